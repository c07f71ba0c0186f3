// An in-memory drawing surface of a given size: what the terminal would show,
// cell by cell, for tests and benchmarks of the drawing pass.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "screen/draw_surface.h"

namespace reqwatch {

class GridSurface final : public DrawSurface {
  public:
    GridSurface(int columns, int lines);

    void resize(int columns, int lines);
    // Keys that readKey hands out, in order; keys::None when they run out.
    void pushKeys(const std::vector<int>& keys);
    void pushText(const std::string& text);

    // The text of one row (every cell, trailing blanks included).
    std::string row(int index) const;
    // The rows, trailing blanks removed, joined with line feeds.
    std::string text() const;
    bool isReverse(int row, int column) const;
    // The reverse-video cells of a row, as text.
    std::string reverseText(int row) const;
    int cursorRow() const { return cursorRow_; }
    int cursorColumn() const { return cursorColumn_; }
    bool cursorVisible() const { return cursorVisible_; }
    int bells() const { return bells_; }
    int flushes() const { return flushes_; }

    void start() override {}
    void stop() override {}
    int columns() const override { return columns_; }
    int lines() const override { return lines_; }
    void eraseAll() override;
    bool moveTo(int row, int column) override;
    void addText(std::string_view text) override;
    void reverseVideo(int row, int column, int count) override;
    void horizontalLine(int row) override;
    void clearToLineEnd() override;
    void placeCursor(int row, int column) override;
    void showCursor(bool visible) override { cursorVisible_ = visible; }
    void flush() override { ++flushes_; }
    void ring() override { ++bells_; }
    void waitForKey(int milliseconds) override;
    int readKey() override;

    static constexpr char lineCell = '-';  // how a horizontal line shows

  private:
    struct Cell {
        char character = ' ';
        bool reverse = false;
    };
    Cell* at(int row, int column);
    const Cell* at(int row, int column) const;
    // Puts one cell at the drawing position and advances; false at the end.
    bool put(char character);

    int columns_;
    int lines_;
    std::vector<Cell> cells_;
    int row_ = 0;
    int column_ = 0;
    bool full_ = false;  // the last cell was written; nothing more fits
    int cursorRow_ = 0;
    int cursorColumn_ = 0;
    bool cursorVisible_ = true;  // as a terminal starts
    int bells_ = 0;
    int flushes_ = 0;
    std::mutex keysLock_;  // pushKeys and the waits may come from other threads
    std::condition_variable keysArrived_;
    std::deque<int> keys_;
};

}  // namespace reqwatch
