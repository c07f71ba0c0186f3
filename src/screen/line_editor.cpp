#include "screen/line_editor.h"

#include <algorithm>
#include <cctype>

#include "screen/key_codes.h"

namespace reqwatch {

namespace {

bool isPrintable(int key) {
    return key >= 0 && key <= 255 && std::isprint(key) != 0;
}

}  // namespace

LineEditor::LineEditor(std::string initial) : text_(std::move(initial)), position_(text_.size()) {}

LineEditor::Outcome LineEditor::handleKey(int key, bool& bell) {
    bell = false;
    switch (key) {
        case keys::None:
            break;
        case keys::CtrlU:
        case keys::DeleteLine:
            text_.clear();
            position_ = 0;
            break;
        case keys::CtrlA:
        case keys::Home:
            position_ = 0;
            break;
        case keys::CtrlE:
        case keys::End:
            position_ = text_.size();
            break;
        case keys::Left:
            if (position_ > 0) {
                --position_;
            } else {
                bell = true;
            }
            break;
        case keys::Right:
            if (position_ < text_.size()) {
                ++position_;
            } else {
                bell = true;
            }
            break;
        case keys::Backspace:
            if (position_ > 0) {
                text_.erase(--position_, 1);
            } else {
                bell = true;
            }
            break;
        case keys::DeleteChar:
            if (position_ < text_.size()) {
                text_.erase(position_, 1);
            } else {
                bell = true;
            }
            break;
        default:
            if (isPrintable(key)) {
                text_.insert(position_++, 1, static_cast<char>(key));
            } else {
                bell = true;
            }
            break;
    }
    if (key == keys::CarriageReturn || key == keys::Enter) {
        return Outcome::Accept;
    }
    if (key == keys::CtrlG || key == keys::Escape) {
        return Outcome::Cancel;
    }
    return Outcome::Continue;
}

LineEditor::View LineEditor::view(int columns, int promptLength) const {
    const std::size_t width = static_cast<std::size_t>(std::max(columns - promptLength - 3, 0));
    const std::size_t start = position_ >= width ? position_ - width : 0;
    View result;
    result.shown = text_.substr(std::min(start, text_.size()), width);
    result.cursorColumn = promptLength + 2 + static_cast<int>(position_ - start);
    return result;
}

}  // namespace reqwatch
