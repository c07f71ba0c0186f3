// A strict reader of the OpenMetrics text exposition, for tests: it refuses
// every line that the format does not allow, and hands back the samples.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct Exposition {
    std::vector<std::string> errors;  // empty when the text is well formed
    // Each sample by its name and labels as written ("name{a="b",c="d"}"),
    // with its value as text.
    std::map<std::string, std::string> samples;
    std::map<std::string, std::string> types;  // family name to its type
    // The value of a label of a sample in unescaped form, by sample key.
    std::map<std::string, std::map<std::string, std::string>> labels;
};

// Reads one whole exposition, ended by "# EOF".
Exposition readExposition(const std::string& text);

}  // namespace testsupport
