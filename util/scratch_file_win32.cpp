#include <windows.h>

#include "util/platform.h"
#include "util/scratch_file.h"

namespace mkani {
namespace {

// The lasting scratch file's name, for the handler of Ctrl-C, which runs in a thread of its own:
// set whole before it is marked pending.
char pendingName[64];
volatile LONG pending = 0;

}  // namespace

bool createScratchFile(bool temporary, ScratchFile* file, std::string* err) {
  static unsigned serial = 0;
  const DWORD flags = FILE_ATTRIBUTE_HIDDEN |
                      (temporary ? FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE : 0);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    // Hidden, and unique to this run: a file left by an earlier run is stepped over.
    const std::string name =
        ".mkani-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + ".tmp";
    // Others may only delete it: so may the handler of Ctrl-C while it is open.
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      file->handle = reinterpret_cast<intptr_t>(handle);
      if (!temporary) {  // a temporary one goes when its handle is closed
        file->name = name;
        InterlockedExchange(&pending, 0);
        pendingName[name.copy(pendingName, sizeof pendingName - 1)] = '\0';
        InterlockedExchange(&pending, 1);
      }
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  const DWORD error = GetLastError();
  *err = systemError(error);
  SetLastError(error);
  return false;
}

bool nameScratchFile(ScratchFile* file, std::string* err) {
  if (file->name.empty()) *err = systemError(ERROR_FILE_NOT_FOUND);
  return !file->name.empty();
}

void removeScratchFile(ScratchFile* file) {
  if (file->handle != ScratchFile::kClosed) CloseHandle(reinterpret_cast<HANDLE>(file->handle));
  if (!file->name.empty()) DeleteFileA(file->name.c_str());
  file->handle = ScratchFile::kClosed;
  releaseScratchName(file);
}

void releaseScratchName(ScratchFile* file) {
  InterlockedExchange(&pending, 0);
  file->name.clear();
}

void removeScratchOnStop() {
  if (InterlockedCompareExchange(&pending, 0, 0)) DeleteFileA(pendingName);
}

}  // namespace mkani
