#include <windows.h>

#include "util/platform.h"
#include "util/scratch_file.h"
#include "util/stops.h"

namespace mkani {
namespace {

// The lasting scratch file's whole path, for the handler of a stop, which runs in a thread of
// its own once stops are no longer held.
wchar_t pendingPath[32768];
bool pending = false;

}  // namespace

bool createScratchFile(bool temporary, ScratchFile* file, std::string* err) {
  static unsigned serial = 0;
  const DWORD flags = FILE_ATTRIBUTE_HIDDEN |
                      (temporary ? FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE : 0);
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 1000 && error == ERROR_FILE_EXISTS; ++attempt) {
    // Hidden, and unique to this run: a file left by an earlier run is stepped over.
    const std::string name =
        ".mkani-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + ".tmp";
    const std::wstring path = wholePath(name);
    holdStops();
    // Others may only delete it: so may the handler of a stop while it is open.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, flags, nullptr);
    error = GetLastError();
    if (handle != INVALID_HANDLE_VALUE) {
      error = 0;
      file->handle = reinterpret_cast<intptr_t>(handle);
      if (!temporary) {  // a temporary one goes when its handle is closed
        file->name = name;
        pendingPath[path.copy(pendingPath, sizeof pendingPath / sizeof *pendingPath - 1)] = L'\0';
        pending = true;
      }
    }
    releaseStops();
  }
  if (error != 0) {
    *err = systemError(error);
    SetLastError(error);
  }
  return error == 0;
}

bool nameScratchFile(ScratchFile* file, std::string* err) {
  if (file->name.empty()) *err = systemError(ERROR_FILE_NOT_FOUND);
  return !file->name.empty();
}

int removeScratchFile(ScratchFile* file) {
  if (file->isOpen()) CloseHandle(reinterpret_cast<HANDLE>(file->handle));
  file->handle = ScratchFile::kClosed;
  if (file->name.empty()) return 0;  // nothing to remove, and another file's name stays pending
  holdStops();
  DWORD error = 0;
  // A program that opened it meanwhile (a scanner, an indexer) is given about a second.
  for (int tries = 0; tries <= kRetries; ++tries) {
    if (tries > 0) Sleep(kRetryPause);
    error = DeleteFileW(wholePath(file->name).c_str()) ? 0 : GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) break;
  }
  releaseScratchName(file);
  releaseStops();
  return static_cast<int>(error);
}

void releaseScratchName(ScratchFile* file) {
  if (!file->name.empty() && wholePath(file->name) == pendingPath) pending = false;
  file->name.clear();
}

void removeScratchOnStop() {
  if (pending) DeleteFileW(pendingPath);
}

}  // namespace mkani
