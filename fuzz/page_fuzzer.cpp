// libFuzzer target for the reading of an active_requests reply: the line
// byte rules, the parser and completeSample.
//
// Input: one control byte, then the reply text. The control byte sets the
// sizes of the blocks the text is handed over in, as reads from a socket
// would: blocks alternate between 1 + (c & 15) and 1 + (c >> 4) * 613 bytes.
// The first NUL byte of the text, if any, ends the first reply and starts a
// second one, read as the next fetch (previous sample present); without one
// the same reply is read twice.
//
// A FormatChanged sqstatException is an expected outcome; any other
// exception, a broken invariant or a sanitizer report is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "cachemgr/active_requests_parser.h"
#include "cachemgr/exceptions.h"
#include "cachemgr/fetch_settings.h"
#include "cachemgr/line_bytes.h"
#include "cachemgr/line_reader.h"
#include "cachemgr/records.h"
#include "cachemgr/sample_statistics.h"

namespace {

using reqwatch::SampleState;

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "page_fuzzer: %s\n", what);
    std::abort();
}

// The lines of `text` as ManagerConnection::receiveLine delivers them when
// reads return blocks of the sizes `blockSize(k)` gives for block k. A last
// line without its newline is not delivered.
template <typename BlockSize>
std::vector<std::string> splitLines(std::string_view text, BlockSize blockSize) {
    std::vector<std::string> lines;
    std::string line;
    const char* block = text.data();
    const char* const end = block + text.size();
    for (std::size_t k = 0; block < end; ++k) {
        const std::size_t left = static_cast<std::size_t>(end - block);
        const std::size_t size = blockSize(k);
        const char* const blockEnd = block + (size < left ? size : left);
        const char* at = block;
        while (at < blockEnd) {
            const char* next = reqwatch::takeLineBytes(line, at, blockEnd);
            if (next == nullptr) {
                break;
            }
            if (next <= at || next > blockEnd || next[-1] != '\n') {
                finding("takeLineBytes returned a position outside the block");
            }
            lines.push_back(line);
            line.clear();
            at = next;
        }
        block = blockEnd;
    }
    return lines;
}

// The same through LineReader, the path the program takes: lines as views
// into the block where that is possible, copies otherwise.
template <typename BlockSize>
std::vector<std::string> readLines(std::string_view text, BlockSize blockSize) {
    std::vector<std::string> lines;
    reqwatch::LineReader reader(16384);  // more than the largest block
    std::size_t offset = 0;
    std::size_t k = 0;
    const auto read = [&](char* buffer, std::size_t capacity) {
        std::size_t count = blockSize(k++);
        count = std::min({count, capacity, text.size() - offset});
        std::memcpy(buffer, text.data() + offset, count);
        offset += count;
        return count;
    };
    std::string_view line;
    while (reader.next(line, read)) {
        lines.emplace_back(line);
    }
    return lines;
}

void checkLine(const std::string& line) {
    if (line.size() > reqwatch::maxLineLength) {
        finding("a line is longer than maxLineLength");
    }
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x1f || byte > 0x7f) {
            finding("a line kept a byte the line rules drop");
        }
    }
}

void checkSample(const SampleState& state) {
    std::size_t requests = 0;
    for (const auto& connection : state.current) {
        if (connection.peer.empty()) {
            finding("a connection without an address");
        }
        if (connection.urls.empty()) {
            finding("a connection without requests");
        }
        requests += connection.urls.size();
    }
    if (static_cast<std::size_t>(state.requestCount) != requests) {
        finding("requestCount differs from the requests in the sample");
    }
    if (state.previous.size() != state.current.size()) {
        finding("the sample was not kept as the previous one");
    }
}

// One fetch after the status line: what fetchActiveRequests does with the
// lines, the status line check left out so that every line reaches the parser.
void fetch(SampleState& state, const std::vector<std::string>& lines, std::time_t now) {
    static const reqwatch::FetchSettings settings{"", 0, "", false, nullptr};
    state.requestCount = 0;
    state.current.clear();
    {
        reqwatch::ActiveRequestsParser parser(state, settings);
        try {
            for (const auto& line : lines) {
                parser.parseLine(line);
            }
        } catch (const reqwatch::sqstatException& error) {
            if (error.kind != reqwatch::sqstatException::FormatChanged) {
                finding("the parser threw a sqstatException other than FormatChanged");
            }
            // The parser checks a line before it changes anything, so the
            // sample is the one of the page cut before that line.
        }
    }
    completeSample(state, {now, static_cast<std::int64_t>(now) * 1000});
    checkSample(state);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const unsigned control = data[0];
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t nul = input.find('\0');
    const std::string_view first = input.substr(0, nul);
    const std::string_view second = nul == std::string_view::npos ? first : input.substr(nul + 1);

    const auto blocks = [control](std::size_t k) -> std::size_t {
        return k % 2 == 0 ? 1 + (control & 15u) : 1 + (control >> 4) * 613u;
    };
    const auto oneBlock = [](std::size_t) -> std::size_t { return ~std::size_t{0}; };

    const std::vector<std::string> firstLines = splitLines(first, blocks);
    if (firstLines != splitLines(first, oneBlock)) {
        finding("the lines depend on where the blocks end");
    }
    if (firstLines != readLines(first, blocks)) {
        finding("LineReader and takeLineBytes disagree");
    }
    for (const auto& line : firstLines) {
        checkLine(line);
    }
    const std::vector<std::string> secondLines = splitLines(second, blocks);

    SampleState state;
    constexpr std::time_t firstTime = 1796896698;
    fetch(state, firstLines, firstTime);
    fetch(state, secondLines, firstTime + 5);
    return 0;
}
