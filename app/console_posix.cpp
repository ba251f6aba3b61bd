#include <unistd.h>

#include "app/console.h"
#include "util/platform.h"

namespace mkani {
namespace {

// A line and its end in one write, so that lines from other programs cannot cut in.
bool writeLine(int fd, std::string_view line, std::string* err) {
  std::string text(line);
  text += '\n';
  return writeAll(fd, text.data(), text.size(), err);
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
