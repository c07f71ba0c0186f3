#include "screen/grid_surface.h"

#include "screen/key_codes.h"

namespace reqwatch {

GridSurface::GridSurface(int columns, int lines) {
    resize(columns, lines);
}

void GridSurface::resize(int columns, int lines) {
    columns_ = columns < 1 ? 1 : columns;
    lines_ = lines < 1 ? 1 : lines;
    cells_.assign(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(lines_), Cell{});
    row_ = column_ = 0;
    full_ = false;
}

void GridSurface::pushKeys(const std::vector<int>& keys) {
    std::lock_guard<std::mutex> guard(keysLock_);
    keys_.insert(keys_.end(), keys.begin(), keys.end());
    keysArrived_.notify_all();
}

void GridSurface::pushText(const std::string& text) {
    std::vector<int> keys;
    for (const char c : text) {
        keys.push_back(static_cast<unsigned char>(c));
    }
    pushKeys(keys);
}

GridSurface::Cell* GridSurface::at(int row, int column) {
    if (row < 0 || column < 0 || row >= lines_ || column >= columns_) {
        return nullptr;
    }
    return &cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
                   static_cast<std::size_t>(column)];
}

const GridSurface::Cell* GridSurface::at(int row, int column) const {
    return const_cast<GridSurface*>(this)->at(row, column);
}

std::string GridSurface::row(int index) const {
    std::string text;
    for (int column = 0; column < columns_; ++column) {
        const Cell* cell = at(index, column);
        text += cell != nullptr ? cell->character : ' ';
    }
    return text;
}

std::string GridSurface::text() const {
    std::string text;
    for (int index = 0; index < lines_; ++index) {
        std::string line = row(index);
        line.erase(line.find_last_not_of(' ') + 1);
        text += line;
        text += '\n';
    }
    return text;
}

bool GridSurface::isReverse(int row, int column) const {
    const Cell* cell = at(row, column);
    return cell != nullptr && cell->reverse;
}

std::string GridSurface::reverseText(int row) const {
    std::string text;
    for (int column = 0; column < columns_; ++column) {
        const Cell* cell = at(row, column);
        if (cell != nullptr && cell->reverse) {
            text += cell->character;
        }
    }
    return text;
}

void GridSurface::eraseAll() {
    cells_.assign(cells_.size(), Cell{});
    row_ = column_ = 0;
    full_ = false;
}

bool GridSurface::moveTo(int row, int column) {
    if (at(row, column) == nullptr) {
        return false;
    }
    row_ = row;
    column_ = column;
    full_ = false;
    return true;
}

bool GridSurface::put(char character) {
    if (full_) {
        return false;
    }
    Cell* cell = at(row_, column_);
    cell->character = character;
    cell->reverse = false;
    if (++column_ == columns_) {
        if (row_ + 1 == lines_) {
            column_ = columns_ - 1;
            full_ = true;  // the bottom right cell: the screen does not scroll
        } else {
            column_ = 0;
            ++row_;
        }
    }
    return true;
}

void GridSurface::addText(std::string_view text) {
    for (const char c : text) {
        if (full_) {
            return;
        }
        if (c == '\n') {
            clearToLineEnd();
            if (row_ + 1 == lines_) {
                return;
            }
            ++row_;
            column_ = 0;
        } else if (c == '\t') {
            do {
                if (!put(' ')) {
                    return;
                }
            } while (column_ % 8 != 0);
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            // Shown as ^X, two cells, as the terminal library shows it.
            if (!put('^') || !put(c == 0x7f ? '?' : static_cast<char>(c + '@'))) {
                return;
            }
        } else if (!put(c)) {
            return;
        }
    }
}

void GridSurface::reverseVideo(int row, int column, int count) {
    for (int i = 0; i < count; ++i) {
        Cell* cell = at(row, column + i);
        if (cell == nullptr) {
            return;
        }
        cell->reverse = true;
    }
}

void GridSurface::horizontalLine(int row) {
    for (int column = 0; column < columns_; ++column) {
        if (Cell* cell = at(row, column)) {
            *cell = Cell{lineCell, false};
        }
    }
}

void GridSurface::clearToLineEnd() {
    for (int column = column_; column < columns_; ++column) {
        if (Cell* cell = at(row_, column)) {
            *cell = Cell{};
        }
    }
}

void GridSurface::placeCursor(int row, int column) {
    if (at(row, column) != nullptr) {
        cursorRow_ = row;
        cursorColumn_ = column;
    }
}

void GridSurface::waitForKey(int milliseconds) {
    std::unique_lock<std::mutex> guard(keysLock_);
    keysArrived_.wait_for(guard, std::chrono::milliseconds(milliseconds),
                          [this] { return !keys_.empty(); });
}

int GridSurface::readKey() {
    std::lock_guard<std::mutex> guard(keysLock_);
    if (keys_.empty()) {
        return keys::None;
    }
    const int key = keys_.front();
    keys_.pop_front();
    return key;
}

}  // namespace reqwatch
