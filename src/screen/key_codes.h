// Key codes as the terminal library reports them with the keypad enabled;
// the curses surface checks that they agree with its own.
#pragma once

namespace reqwatch::keys {

inline constexpr int None = -1;  // no key within the half-delay time
inline constexpr int Down = 0402;
inline constexpr int Up = 0403;
inline constexpr int Left = 0404;
inline constexpr int Right = 0405;
inline constexpr int Home = 0406;
inline constexpr int Backspace = 0407;
inline constexpr int DeleteLine = 0510;
inline constexpr int DeleteChar = 0512;
inline constexpr int PageDown = 0522;
inline constexpr int PageUp = 0523;
inline constexpr int Enter = 0527;
inline constexpr int End = 0550;
inline constexpr int Resize = 0632;

inline constexpr int CtrlA = 1;
inline constexpr int CtrlE = 5;
inline constexpr int CtrlG = 7;
inline constexpr int Tab = 9;
inline constexpr int LineFeed = 10;
inline constexpr int CarriageReturn = 13;
inline constexpr int CtrlU = 21;
inline constexpr int Escape = 27;

}  // namespace reqwatch::keys
