#pragma once

#include "screen/draw_surface.h"

namespace reqwatch {

// The drawing surface over ncursesw's standard screen.
class CursesSurface final : public DrawSurface {
  public:
    void start() override;
    void stop() override;
    int columns() const override;
    int lines() const override;
    void eraseAll() override;
    bool moveTo(int row, int column) override;
    void addText(std::string_view text) override;
    void reverseVideo(int row, int column, int count) override;
    void horizontalLine(int row) override;
    void clearToLineEnd() override;
    void placeCursor(int row, int column) override;
    void showCursor(bool visible) override;
    void flush() override;
    void ring() override;
    void waitForKey(int milliseconds) override;
    int readKey() override;

  private:
    bool started_ = false;
};

}  // namespace reqwatch
