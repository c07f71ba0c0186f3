// The editing rules of the one-line prompt, free of the terminal: an answer
// with an insertion position, changed one key at a time.
#pragma once

#include <cstddef>
#include <string>

namespace reqwatch {

class LineEditor {
  public:
    enum class Outcome { Continue, Accept, Cancel };

    explicit LineEditor(std::string initial = {});

    // Applies one key (keys::None for none). Sets `bell` when the key has no
    // editing meaning here and cannot be inserted.
    Outcome handleKey(int key, bool& bell);

    const std::string& text() const { return text_; }
    std::size_t position() const { return position_; }

    // The part of the answer shown after a prompt of `promptLength`
    // characters on a line of `columns`, and the cursor's column.
    struct View {
        std::string shown;
        int cursorColumn = 0;
    };
    View view(int columns, int promptLength) const;

  private:
    std::string text_;
    std::size_t position_ = 0;
};

}  // namespace reqwatch
