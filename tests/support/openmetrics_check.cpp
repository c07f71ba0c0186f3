#include "support/openmetrics_check.h"

#include <cctype>
#include <set>
#include <sstream>

namespace testsupport {

namespace {

bool isMetricName(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) {
        return false;
    }
    for (const char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != ':') {
            return false;
        }
    }
    return true;
}

bool isLabelName(const std::string& name) {
    return isMetricName(name) && name.find(':') == std::string::npos;
}

bool isNumber(const std::string& text) {
    if (text == "NaN" || text == "+Inf" || text == "-Inf") {
        return true;
    }
    std::size_t used = 0;
    try {
        std::stod(text, &used);
    } catch (...) {
        return false;
    }
    return used == text.size() && !text.empty() &&
           !std::isspace(static_cast<unsigned char>(text[0]));
}

}  // namespace

Exposition readExposition(const std::string& text) {
    Exposition result;
    const auto fail = [&](std::size_t number, const std::string& why, const std::string& line) {
        result.errors.push_back("line " + std::to_string(number) + ": " + why + ": " + line);
    };
    if (text.empty() || text.back() != '\n') {
        result.errors.push_back("the text does not end with a line feed");
    }
    std::set<std::string> declared;  // families with a TYPE line
    std::set<std::string> helped;
    std::set<std::string> finished;  // families whose samples came and went
    std::string family;              // of the samples being read
    bool ended = false;
    std::size_t number = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        ++number;
        if (ended) {
            fail(number, "after # EOF", line);
            continue;
        }
        if (line == "# EOF") {
            ended = true;
            continue;
        }
        if (line.rfind("#", 0) == 0) {
            std::istringstream words(line);
            std::string hash, kind, name;
            words >> hash >> kind >> name;
            std::string rest;
            std::getline(words, rest);
            if (hash != "#" || (kind != "TYPE" && kind != "HELP" && kind != "UNIT") ||
                !isMetricName(name) || line.find("# " + kind + " " + name) != 0) {
                fail(number, "not a TYPE, HELP or UNIT line", line);
                continue;
            }
            if (finished.count(name) != 0 || (name == family && !family.empty())) {
                fail(number, "metadata after the family's samples", line);
            }
            if (kind == "TYPE") {
                const std::string type = rest.empty() ? "" : rest.substr(1);
                static const std::set<std::string> types = {
                    "counter",  "gauge", "histogram", "gaugehistogram",
                    "stateset", "info",  "summary",   "unknown"};
                if (types.count(type) == 0 || rest.size() < 2) {
                    fail(number, "unknown type", line);
                }
                if (!declared.insert(name).second) {
                    fail(number, "a second TYPE line", line);
                }
                result.types[name] = type;
            } else if (kind == "HELP" && !helped.insert(name).second) {
                fail(number, "a second HELP line", line);
            }
            continue;
        }
        // name{label="value",...} value [timestamp]
        std::size_t at = 0;
        while (at < line.size() && line[at] != '{' && line[at] != ' ') {
            ++at;
        }
        const std::string name = line.substr(0, at);
        if (!isMetricName(name)) {
            fail(number, "bad metric name", line);
            continue;
        }
        std::map<std::string, std::string> labels;
        std::string key = name;
        if (at < line.size() && line[at] == '{') {
            const std::size_t open = at++;
            bool good = true;
            while (good && at < line.size() && line[at] != '}') {
                std::size_t equals = line.find('=', at);
                if (equals == std::string::npos || equals + 1 >= line.size() ||
                    line[equals + 1] != '"') {
                    good = false;
                    break;
                }
                const std::string label = line.substr(at, equals - at);
                std::string value;
                at = equals + 2;
                bool closed = false;
                while (at < line.size()) {
                    const char c = line[at++];
                    if (c == '"') {
                        closed = true;
                        break;
                    }
                    if (c == '\\') {
                        if (at >= line.size()) {
                            break;
                        }
                        const char next = line[at++];
                        if (next == 'n') {
                            value += '\n';
                        } else if (next == '\\' || next == '"') {
                            value += next;
                        } else {
                            good = false;
                            break;
                        }
                    } else {
                        value += c;
                    }
                }
                if (!closed || !isLabelName(label) || !labels.emplace(label, value).second) {
                    good = false;
                    break;
                }
                if (at < line.size() && line[at] == ',') {
                    ++at;
                }
            }
            if (!good || at >= line.size() || line[at] != '}') {
                fail(number, "bad labels", line);
                continue;
            }
            key = name + line.substr(open, at - open + 1);
            ++at;
        }
        if (at >= line.size() || line[at] != ' ') {
            fail(number, "no value", line);
            continue;
        }
        std::istringstream tail(line.substr(at + 1));
        std::string value, timestamp, more;
        tail >> value >> timestamp >> more;
        if (!isNumber(value) || (!timestamp.empty() && !isNumber(timestamp)) || !more.empty() ||
            line.find("  ") != std::string::npos) {
            fail(number, "bad value", line);
            continue;
        }
        if (declared.count(name) == 0) {
            fail(number, "a sample without its TYPE line", line);
        } else if (result.types[name] != "gauge" && result.types[name] != "unknown") {
            fail(number, "only gauges are read here", line);
        }
        if (name != family) {
            if (!family.empty()) {
                finished.insert(family);
            }
            if (finished.count(name) != 0) {
                fail(number, "the family's samples are not together", line);
            }
            family = name;
        }
        if (!result.samples.emplace(key, value).second) {
            fail(number, "the same series twice", line);
        }
        result.labels[key] = labels;
    }
    if (!ended) {
        result.errors.push_back("no # EOF line");
    }
    return result;
}

}  // namespace testsupport
