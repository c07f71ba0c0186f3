// libFuzzer target for the command line: the input is split at NUL bytes
// into arguments, parsed into an Options record, and the result is checked.
// A plain-text throw escaping, a crash or a sanitizer report is a finding.
#include <getopt.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/options.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "command_line_fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    opterr = 0;  // getopt's own diagnostics would only fill the log
    std::vector<std::string> arguments{"reqwatch"};
    std::string current;
    for (std::size_t i = 0; i < size && arguments.size() < 64; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    arguments.push_back(current);
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    reqwatch::Options options;
    std::ostringstream out;
    std::ostringstream err;
    const auto status = reqwatch::parseCommandLine(static_cast<int>(arguments.size()), argv.data(),
                                                   options, out, err);
    if (status && *status != 0 && *status != 1) {
        finding("an exit status other than 0 and 1");
    }
    if (status && *status == 0 && out.str().find("Usage:") == std::string::npos) {
        finding("the command line ended without the usage text");
    }
    if (status && *status == 1 && err.str().empty()) {
        finding("status 1 without a message");
    }
    if (!status && (options.refreshInterval < 1 || !out.str().empty())) {
        finding("a run with a refresh interval below 1 or with output");
    }
    for (const auto& user : options.users) {
        for (const char c : user) {
            if (c >= 'A' && c <= 'Z') {
                finding("a user name kept a capital letter");
            }
        }
    }
    return 0;
}
