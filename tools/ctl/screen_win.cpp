#include <windows.h>
// After windows.h.
#include <conio.h>
#include <io.h>

#include <cstdio>

#include "ctl.h"

namespace ctl {

// The console draws the frame with the same control sequences as a
// terminal once asked to; keys are polled.
struct Screen::State {
  bool terminal = false;
};

Screen::Screen() : m_state(new State) {
  m_state->terminal = _isatty(_fileno(stdout)) != 0;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (m_state->terminal && GetConsoleMode(out, &mode))
    SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

Screen::~Screen() {
  delete m_state;
}

int Screen::rows() const {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!m_state->terminal || !GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Bottom - info.srWindow.Top + 1;
}

void Screen::show(const std::string& frame) {
  fputs(m_state->terminal ? "\x1b[H\x1b[2J" : "\n", stdout);
  fputs(frame.c_str(), stdout);
  fflush(stdout);
}

bool Screen::quitWithin(int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (_isatty(_fileno(stdin)) && _kbhit()) {
      int key = _getch();
      if (key == 'q' || key == 'Q') return true;
    }
    Sleep(50);
  }
  return false;
}

}  // namespace ctl
