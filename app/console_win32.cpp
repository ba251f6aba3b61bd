#include <windows.h>

#include "app/console.h"
#include "util/platform.h"

namespace mkani {
namespace {

// A line and its CR LF in one write, so that lines from other programs cannot cut in.
bool writeLine(DWORD stream, std::string_view line, std::string* err) {
  const HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    *err = "it is not open";
    return false;
  }
  std::string text(line);
  text += "\r\n";
  return writeAll(reinterpret_cast<intptr_t>(handle), text.data(), text.size(), err);
}

}  // namespace

bool StdConsole::printLine(std::string_view line, std::string* err) {
  return writeLine(STD_OUTPUT_HANDLE, line, err);
}

void StdConsole::errorLine(std::string_view line) {
  std::string ignored;
  writeLine(STD_ERROR_HANDLE, line, &ignored);
}

}  // namespace mkani
