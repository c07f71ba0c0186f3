// libFuzzer target for the line editor of the prompts: pairs of input bytes
// are keys (codes up to 0x3ff cover the terminal library's key codes), and
// every view is taken on a screen width from the input as well.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "screen/line_editor.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "line_editor_fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const int columns = data[0] - 8;  // -8 to 247: narrow, even negative, widths
    const int promptLength = data[1] % 40;
    std::string initial;
    std::size_t at = 2;
    while (at < size && data[at] != 0 && initial.size() < 64) {
        if (std::isprint(data[at]) != 0) {
            initial += static_cast<char>(data[at]);
        }
        ++at;
    }
    reqwatch::LineEditor editor(initial);
    for (++at; at + 1 < size; at += 2) {
        const int key = (data[at] | data[at + 1] << 8) & 0x3ff;
        bool bell = false;
        const auto outcome = editor.handleKey(key == 0x3ff ? -1 : key, bell);
        const std::string& text = editor.text();
        if (editor.position() > text.size()) {
            finding("the position is past the end of the answer");
        }
        const auto view = editor.view(columns, promptLength);
        const int width = columns - promptLength - 3;
        if (view.shown.size() > static_cast<std::size_t>(width < 0 ? 0 : width)) {
            finding("the view is wider than the line");
        }
        if (text.find(view.shown) == std::string::npos) {
            finding("the view is not a part of the answer");
        }
        if (view.cursorColumn < promptLength + 2) {
            finding("the cursor stands inside the prompt");
        }
        if (outcome != reqwatch::LineEditor::Outcome::Continue) {
            break;
        }
    }
    for (const char c : editor.text()) {
        if (std::isprint(static_cast<unsigned char>(c)) == 0) {
            finding("the answer holds a character that is not printable");
        }
    }
    return 0;
}
