#include <windows.h>

#include <algorithm>
#include <string>

#include "app/console.h"
#include "util/platform.h"
#include "util/scratch_file.h"
#include "util/stops.h"

namespace mkani {

const char kStopMessage[] = "mkani: stopped by Ctrl-C or Ctrl-Break";

namespace {

// A line and its CR LF in one write, so that lines from other programs cannot cut in.
bool writeLine(DWORD stream, std::string_view line, std::string* err) {
  const HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    *err = "it is not open";
    return false;
  }
  const std::string text = std::string(line) + "\r\n";
  DWORD mode;
  if (!GetConsoleMode(handle, &mode)) {  // a file or pipe takes the UTF-8 bytes
    return writeAll(reinterpret_cast<intptr_t>(handle), text.data(), text.size(), err);
  }
  // A console shows UTF-16 in any code page; bytes it would read in its OEM code page.
  const std::wstring wide = wideFromUtf8(text);
  for (size_t at = 0; at < wide.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(wide.size() - at, 8192));
    DWORD done = 0;
    if (!WriteConsoleW(handle, wide.data() + at, chunk, &done, nullptr) || done == 0) {
      *err = systemError(GetLastError());
      return false;
    }
    at += done;
  }
  return true;
}

// Ends a run that Ctrl-C, Ctrl-Break or the closing console asked to stop. Runs in a thread of
// its own.
BOOL WINAPI stop(DWORD /*event*/) {
  awaitStops();  // a rewrite in place ends first
  removeScratchOnStop();
  std::string ignored;
  writeLine(STD_ERROR_HANDLE, kStopMessage, &ignored);
  ExitProcess(2);  // the status of a failed run
}

}  // namespace

const char kMoreHelp[] = "See README.txt beside mkani.exe for the details.";

bool StdConsole::printLine(std::string_view line, std::string* err) {
  return writeLine(STD_OUTPUT_HANDLE, line, err);
}

void StdConsole::errorLine(std::string_view line) {
  std::string ignored;
  writeLine(STD_ERROR_HANDLE, line, &ignored);
}

bool prepareProcess() {
  // A closed handle is never reused, and no signal ends a write.
  return SetConsoleCtrlHandler(stop, TRUE);
}

}  // namespace mkani
