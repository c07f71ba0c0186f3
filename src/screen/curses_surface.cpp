#include "screen/curses_surface.h"

#include <ncursesw/curses.h>
#include <poll.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "screen/key_codes.h"

namespace reqwatch {

static_assert(keys::None == ERR);
static_assert(keys::Down == KEY_DOWN && keys::Up == KEY_UP && keys::Left == KEY_LEFT &&
              keys::Right == KEY_RIGHT && keys::Home == KEY_HOME &&
              keys::Backspace == KEY_BACKSPACE && keys::DeleteLine == KEY_DL &&
              keys::DeleteChar == KEY_DC && keys::PageDown == KEY_NPAGE &&
              keys::PageUp == KEY_PPAGE && keys::Enter == KEY_ENTER && keys::End == KEY_END &&
              keys::Resize == KEY_RESIZE);

void CursesSurface::start() {
    if (started_) {
        return;
    }
    initscr();
    curs_set(0);  // shown only at a prompt
    // A lone escape key (which cancels a prompt) is told from the start of a
    // key sequence after this long, unless the user chose otherwise.
    if (std::getenv("ESCDELAY") == nullptr) {
        set_escdelay(50);
    }
    keypad(stdscr, TRUE);
    nonl();
    cbreak();
    noecho();
    halfdelay(2);
    // The wait for a key happens in waitForKey, outside the screen's lock;
    // reading one then never blocks.
    nodelay(stdscr, TRUE);
    started_ = true;
}

void CursesSurface::stop() {
    if (!started_) {
        return;
    }
    clear();
    refresh();
    curs_set(1);
    endwin();
    started_ = false;
}

int CursesSurface::columns() const {
    return COLS;
}

int CursesSurface::lines() const {
    return LINES;
}

void CursesSurface::eraseAll() {
    werase(stdscr);
}

bool CursesSurface::moveTo(int row, int column) {
    if (row < 0 || column < 0 || row >= LINES || column >= COLS) {
        return false;
    }
    return wmove(stdscr, row, column) != ERR;
}

void CursesSurface::addText(std::string_view text) {
    const int length =
        text.size() > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(text.size());
    waddnstr(stdscr, text.data(), length);
}

void CursesSurface::reverseVideo(int row, int column, int count) {
    if (count <= 0 || row < 0 || column < 0 || row >= LINES || column >= COLS) {
        return;
    }
    mvwchgat(stdscr, row, column, count, A_REVERSE, 0, nullptr);
}

void CursesSurface::horizontalLine(int row) {
    if (row < 0 || row >= LINES) {
        return;
    }
    wmove(stdscr, row, 0);
    whline(stdscr, ACS_HLINE, COLS);
}

void CursesSurface::clearToLineEnd() {
    wclrtoeol(stdscr);
}

void CursesSurface::placeCursor(int row, int column) {
    if (row < 0 || column < 0 || row >= LINES || column >= COLS) {
        return;
    }
    wmove(stdscr, row, column);
}

void CursesSurface::showCursor(bool visible) {
    curs_set(visible ? 1 : 0);
}

void CursesSurface::flush() {
    wrefresh(stdscr);
}

void CursesSurface::ring() {
    beep();
}

void CursesSurface::waitForKey(int milliseconds) {
    // A resize signal ends the wait early (EINTR); the terminal library then
    // reports it as a key. A key that the library already holds from an
    // earlier read is found at the next read, at most this wait later.
    pollfd input{STDIN_FILENO, POLLIN, 0};
    ::poll(&input, 1, milliseconds);
}

int CursesSurface::readKey() {
    return wgetch(stdscr);
}

}  // namespace reqwatch
