#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>

#include "platform/path.h"
#include "platform/shell.h"

extern char** environ;

namespace bg {
namespace platform {

namespace {

// The opener must not inherit what the host set up for itself: blocked or
// ignored signals (a host that blocks SIGTERM to wait for it would make the
// opener unkillable), its terminal session, its standard streams. Our own
// descriptors are close-on-exec and go away by themselves.
struct SpawnSetup {
  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;

  SpawnSetup() {
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
};

}  // namespace

void openFolder(const char* folder) {
  if (folder == nullptr) return;
  std::string target = nativePath(folder);
  char* const argv[] = {const_cast<char*>("xdg-open"), &target[0], nullptr};
  SpawnSetup setup;
  pid_t child;
  if (posix_spawnp(&child, "xdg-open", &setup.actions, &setup.attr, argv, environ) != 0) return;
  // The opener may run as long as it likes; a detached thread reaps it so
  // that it leaves no zombie and the caller never waits.
  // Without a thread to spare the opener stays a zombie until we exit,
  // which is better than failing loudly.
  try {
    std::thread([child] {
      while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
  }
}

}  // namespace platform
}  // namespace bg
