#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "app/console.h"
#include "util/platform.h"
#include "util/scratch_file.h"

namespace mkani {

const char kStopMessage[] = "mkani: stopped by a signal";

namespace {

// A line and its end in one write, so that lines from other programs cannot cut in.
bool writeLine(int fd, std::string_view line, std::string* err) {
  const std::string text = std::string(line) + '\n';
  return writeAll(fd, text.data(), text.size(), err);
}

// Ends a run that a signal asked to stop, with the status of a failed run, as far as that is
// safe in a signal handler.
void stop(int /*signal*/) {
  removeScratchOnStop();
  (void)!::write(STDERR_FILENO, kStopMessage, sizeof kStopMessage - 1);
  (void)!::write(STDERR_FILENO, "\n", 1);
  _exit(2);
}

}  // namespace

const char kMoreHelp[] = "See mkani(1) for the details.";

bool StdConsole::printLine(std::string_view line, std::string* err) {
  return writeLine(STDOUT_FILENO, line, err);
}

void StdConsole::errorLine(std::string_view line) {
  std::string ignored;
  writeLine(STDERR_FILENO, line, &ignored);
}

bool prepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one. The root directory, where the null device is
    // missing, takes no write either.
    if (::open("/dev/null", O_RDWR) != fd && ::open("/", O_RDONLY) != fd) return false;
  }
  // Writes to a broken pipe or past the size limit fail with a reason (signal() takes these).
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  struct sigaction onStop = {};
  onStop.sa_handler = stop;
  sigfillset(&onStop.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction was;
    // A signal the caller ignores (nohup) stays ignored.
    if (sigaction(signal, nullptr, &was) != 0 ||
        (was.sa_handler != SIG_IGN && sigaction(signal, &onStop, nullptr) != 0)) {
      return false;
    }
  }
  return true;
}

}  // namespace mkani
