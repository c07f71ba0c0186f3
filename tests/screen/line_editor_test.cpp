#include "screen/line_editor.h"

#include <gtest/gtest.h>

#include "screen/key_codes.h"

namespace reqwatch {
namespace {

struct Typed {
    std::string text;
    std::size_t position;
    int bells;
    LineEditor::Outcome outcome;
};

Typed type(const std::string& initial, const std::vector<int>& keys) {
    LineEditor editor(initial);
    int bells = 0;
    LineEditor::Outcome outcome = LineEditor::Outcome::Continue;
    for (const int key : keys) {
        bool bell = false;
        outcome = editor.handleKey(key, bell);
        bells += bell ? 1 : 0;
    }
    return {editor.text(), editor.position(), bells, outcome};
}

TEST(LineEditor, EditingKeys) {
    using keys::Backspace, keys::DeleteChar, keys::Left, keys::Right, keys::Home, keys::End;
    struct Case {
        std::string initial;
        std::vector<int> keys;
        std::string text;
        std::size_t position;
        int bells;
    };
    const Case cases[] = {
        {"host", {}, "host", 4, 0},
        {"", {'a', 'b', 'c'}, "abc", 3, 0},
        {"ac", {Left, 'b'}, "abc", 2, 0},
        {"abc", {keys::CtrlU}, "", 0, 0},
        {"abc", {keys::DeleteLine, 'x'}, "x", 1, 0},
        {"abc", {keys::CtrlA, 'x', keys::CtrlE, 'y'}, "xabcy", 5, 0},
        {"abc", {Home, DeleteChar, End, Backspace}, "b", 1, 0},
        {"ab", {Home, Left, Backspace, End, Right, DeleteChar}, "ab", 2, 4},
        {"", {keys::Tab, keys::LineFeed, 200, 0x7f, keys::Resize, ' ', '~'}, " ~", 2, 5},
        {"a", {keys::None, keys::None}, "a", 1, 0},
    };
    for (const auto& item : cases) {
        const Typed typed = type(item.initial, item.keys);
        EXPECT_EQ(typed.text, item.text) << item.initial;
        EXPECT_EQ(typed.position, item.position) << item.initial;
        EXPECT_EQ(typed.bells, item.bells) << item.initial;
        EXPECT_EQ(typed.outcome, LineEditor::Outcome::Continue);
    }
}

TEST(LineEditor, EnterAcceptsAndEscapeOrCtrlGCancelWithABell) {
    for (const int key : {keys::CarriageReturn, keys::Enter}) {
        const Typed typed = type("10.0.0.1", {key});
        EXPECT_EQ(typed.outcome, LineEditor::Outcome::Accept);
        EXPECT_EQ(typed.text, "10.0.0.1");
        EXPECT_EQ(typed.bells, 1);
    }
    for (const int key : {keys::Escape, keys::CtrlG}) {
        EXPECT_EQ(type("x", {key}).outcome, LineEditor::Outcome::Cancel);
    }
    EXPECT_EQ(type("x", {keys::CtrlU, keys::CarriageReturn}).text, "");
}

TEST(LineEditor, ALongAnswerScrollsSideways) {
    LineEditor editor;
    bool bell = false;
    for (int i = 0; i < 67; ++i) {
        editor.handleKey('a' + i % 26, bell);
    }
    LineEditor::View view = editor.view(80, 10);
    EXPECT_EQ(view.shown.size(), 67u);
    EXPECT_EQ(view.shown[0], 'a');
    EXPECT_EQ(view.cursorColumn, 79);
    editor.handleKey('!', bell);  // the 68th character
    view = editor.view(80, 10);
    EXPECT_EQ(view.shown.size(), 67u);
    EXPECT_EQ(view.shown[0], 'b');
    EXPECT_EQ(view.cursorColumn, 79);
    // Too narrow for any of the answer: nothing shown, nothing out of range.
    EXPECT_EQ(editor.view(5, 10).shown, "");
}

}  // namespace
}  // namespace reqwatch
