// The one thin layer between the screen and the terminal library: everything
// a drawing pass, the keyboard loop and the line editor do to the terminal.
// Rows and columns are 0-based; row 0 is the top line.
#pragma once

#include <string_view>

namespace reqwatch {

class DrawSurface {
  public:
    virtual ~DrawSurface() = default;

    // Sets the terminal up for the screen, and gives it back as it was.
    virtual void start() = 0;
    virtual void stop() = 0;

    // The terminal's size, read afresh on every call.
    virtual int columns() const = 0;
    virtual int lines() const = 0;

    // Blanks every cell without forcing the terminal to be repainted whole.
    virtual void eraseAll() = 0;
    // Moves the drawing position; false (and no move) outside the screen.
    virtual bool moveTo(int row, int column) = 0;
    // Writes at the drawing position as the terminal library writes a
    // string: long text wraps onto the next line, a line feed clears the rest
    // of the line and goes on at the start of the next one, a tab advances to
    // the next multiple of eight, and writing stops at the end of the screen.
    virtual void addText(std::string_view text) = 0;
    // Shows `count` cells from (row, column) on that row in reverse video.
    virtual void reverseVideo(int row, int column, int count) = 0;
    // A horizontal line across the whole width of a row.
    virtual void horizontalLine(int row) = 0;
    // Blanks the rest of the current row from the drawing position.
    virtual void clearToLineEnd() = 0;
    // Puts the terminal's own cursor at a cell (at the next flush).
    virtual void placeCursor(int row, int column) = 0;
    // Shows or hides the terminal's own cursor: it shows only at a prompt.
    virtual void showCursor(bool visible) = 0;
    // Sends what was drawn to the terminal.
    virtual void flush() = 0;
    virtual void ring() = 0;
    // Waits up to `milliseconds` until a key may be there to read; returns
    // early when one is. It touches no drawing state, so it is called
    // without the screen's lock, and any thread may draw meanwhile.
    virtual void waitForKey(int milliseconds) = 0;
    // The next key without waiting; keys::None when there is none.
    virtual int readKey() = 0;
};

}  // namespace reqwatch
