#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/console.h"

namespace mkani {
namespace {

bool writeAll(int fd, std::string_view text, std::string* err) {
  while (!text.empty()) {
    const ssize_t done = ::write(fd, text.data(), text.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      *err = done < 0 ? std::strerror(errno) : "the stream took no more bytes";
      return false;
    }
    text.remove_prefix(static_cast<size_t>(done));
  }
  return true;
}

// A line and its end in one write, so that lines from other programs cannot cut in.
bool writeLine(int fd, std::string_view line, std::string* err) {
  std::string text(line);
  text += '\n';
  return writeAll(fd, text, err);
}

}  // namespace

bool StdConsole::printLine(std::string_view line, std::string* err) {
  return writeLine(STDOUT_FILENO, line, err);
}

void StdConsole::errorLine(std::string_view line) {
  std::string ignored;
  writeLine(STDERR_FILENO, line, &ignored);
}

}  // namespace mkani
