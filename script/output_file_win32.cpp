#include <windows.h>

#include "script/output_file.h"
#include "util/platform.h"

namespace mkani {

OutputFile::~OutputFile() {
  std::string ignored;
  if (isOpen()) close(&ignored);
}

bool OutputFile::create(const char* path, std::string* err) {
  // A link or junction would have the script written over whatever it points at.
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      *err = "it is a symbolic link";
      return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      *err = "it is a directory";
      return false;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {  // said before CreateFileA's "Access is denied"
      *err = "it is read-only";
      return false;
    }
  }
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *err = systemError(GetLastError());
    return false;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    *err = "it is not a regular file";
    CloseHandle(file);
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return true;
}

bool OutputFile::write(const char* data, size_t size, std::string* err) {
  return writeAll(handle_, data, size, err);
}

bool OutputFile::close(std::string* err) {
  const bool ok = CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kClosed;
  if (!ok) *err = systemError(GetLastError());
  return ok;
}

}  // namespace mkani
