#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "ctl.h"

namespace ctl {

namespace {

std::atomic<bool> g_interrupted{false};

void onInterrupt(int) {
  g_interrupted = true;
}

}  // namespace

// Keys come one at a time and unechoed while `top` runs; Ctrl-C ends the
// wait (no SA_RESTART) instead of the process, so the terminal is put back.
struct Screen::State {
  bool keys = false;
  bool terminal = false;
  struct termios saved;
  struct sigaction savedInterrupt;
};

Screen::Screen() : m_state(new State) {
  m_state->terminal = isatty(STDOUT_FILENO) != 0;
  struct sigaction interrupt = {};
  interrupt.sa_handler = onInterrupt;
  sigaction(SIGINT, &interrupt, &m_state->savedInterrupt);
  if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &m_state->saved) == 0) {
    struct termios raw = m_state->saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    m_state->keys = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
}

Screen::~Screen() {
  if (m_state->keys) tcsetattr(STDIN_FILENO, TCSANOW, &m_state->saved);
  sigaction(SIGINT, &m_state->savedInterrupt, nullptr);
  delete m_state;
}

int Screen::rows() const {
  struct winsize size;
  if (!m_state->terminal || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_row;
}

void Screen::show(const std::string& frame) {
  fputs(m_state->terminal ? "\x1b[H\x1b[2J" : "\n", stdout);
  fputs(frame.c_str(), stdout);
  fflush(stdout);
}

bool Screen::quitWithin(int ms) {
  struct pollfd in = {STDIN_FILENO, POLLIN, 0};
  int n = poll(&in, m_state->keys ? 1 : 0, ms);
  if (g_interrupted) return true;
  char key = 0;
  return n > 0 && read(STDIN_FILENO, &key, 1) == 1 && (key == 'q' || key == 'Q');
}

}  // namespace ctl
