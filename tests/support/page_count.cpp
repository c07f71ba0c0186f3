#include "support/page_count.h"

#include <sstream>

namespace testsupport {

PageCount countPage(const std::string& page) {
    PageCount count;
    std::istringstream body(page);
    std::string section;  // the worker whose section is open, or empty
    std::size_t outside = 0;
    PageRequest request;
    std::string login;
    const auto endBlock = [&] {
        if (!request.client.empty()) {
            ++count.requests;
            count.clients.insert(request.client);
            if (!login.empty() && login != "-") {
                count.logins.insert(login);
            }
            count.bytesByUri[request.uri] = request.bytes;
            count.everyRequest.push_back(request);
            if (section.empty()) {
                ++outside;
            } else {
                count.sections[section].push_back(request);
            }
        }
        request = PageRequest();
        login.clear();
    };
    for (std::string line; std::getline(body, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos) {
            endBlock();
            continue;
        }
        const std::string text = line.substr(start);
        std::istringstream words(text);
        std::string key;
        words >> key;
        if (key == "by" || key == "}") {
            // "by kid1 {" or "} by kid1": a section line also ends a block.
            endBlock();
            std::string by;
            std::string worker;
            std::string brace;
            if (key == "}") {
                words >> by >> worker;
                count.sectionsWellFormed =
                    count.sectionsWellFormed && by == "by" && worker == section && !section.empty();
                section.clear();
            } else {
                words >> worker >> brace;
                count.sectionsWellFormed =
                    count.sectionsWellFormed && brace == "{" && section.empty();
                section = worker;
                count.sections[section];  // a section without requests is one too
            }
        } else if (key == "remote:" || key == "peer:") {
            std::string address;
            words >> address;
            request.client = address.substr(0, address.rfind(':'));
        } else if (key == "uri") {
            words >> request.uri;
        } else if (key == "username") {
            words >> login;
        } else if (key == "out.offset") {
            const auto size = text.find("out.size ");
            request.bytes = size == std::string::npos ? 0 : std::stoll(text.substr(size + 9));
        }
    }
    endBlock();
    if (!count.sections.empty() && (outside > 0 || !section.empty())) {
        count.sectionsWellFormed = false;
    }
    return count;
}

std::string bodyOf(const std::string& reply) {
    const auto end = reply.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

}  // namespace testsupport
