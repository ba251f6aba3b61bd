#include <windows.h>

#include "util/platform.h"
#include "util/scratch_file.h"

namespace mkani {

bool createScratchFile(bool temporary, ScratchFile* file, std::string* err) {
  static unsigned serial = 0;
  const DWORD flags = FILE_ATTRIBUTE_HIDDEN |
                      (temporary ? FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE : 0);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    // Hidden, and unique to this run: a file left by an earlier run is stepped over.
    const std::string name =
        ".mkani-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + ".tmp";
    const HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      file->handle = reinterpret_cast<intptr_t>(handle);
      if (!temporary) file->name = name;  // a temporary one goes when its handle is closed
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
  file->name.clear();
}

}  // namespace mkani
