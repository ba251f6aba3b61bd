#include <windows.h>

#include "script/output_file.h"
#include "util/platform.h"

namespace mkani {
namespace {

// Why a file could not be opened or replaced: another program holding it open without letting
// it go is said in plain words.
std::string fileFailure(DWORD error) {
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
      error == ERROR_UNABLE_TO_REMOVE_REPLACED) {
    return "it is in use";
  }
  return systemError(error);
}

// Returns `path` made whole with the current directory, or "" with the reason in GetLastError()
// when that cannot be done within MAX_PATH.
std::string fullPath(const std::string& path) {
  char whole[MAX_PATH];
  const DWORD size = GetFullPathNameA(path.c_str(), MAX_PATH, whole, nullptr);
  if (size >= MAX_PATH) SetLastError(ERROR_FILENAME_EXCED_RANGE);
  return size > 0 && size < MAX_PATH ? std::string(whole, size) : std::string();
}

}  // namespace

DiskOutputFile::~DiskOutputFile() {
  discard();
}

bool DiskOutputFile::open(const char* path, std::string* err) {
  path_ = path;
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
  // The old file must be one that can be written and replaced now.
  HANDLE old = INVALID_HANDLE_VALUE;
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    old = CreateFileA(path, GENERIC_WRITE | DELETE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (old == INVALID_HANDLE_VALUE) {
      *err = fileFailure(GetLastError());
      return false;
    }
    const bool disk = GetFileType(old) == FILE_TYPE_DISK;
    CloseHandle(old);
    if (!disk) {
      *err = "it is not a regular file";
      return false;
    }
  }
  if (createScratchFile(false, &file_, err)) return true;
  if (attributes == INVALID_FILE_ATTRIBUTES || GetLastError() != ERROR_ACCESS_DENIED) return false;
  // A folder that takes no new file: rewrite the old one in place, as far as that goes.
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *err = fileFailure(GetLastError());
    return false;
  }
  file_.handle = reinterpret_cast<intptr_t>(file);
  inPlace_ = true;
  return true;
}

bool DiskOutputFile::write(const char* data, size_t size, std::string* err) {
  return writeAll(file_.handle, data, size, err);
}

bool DiskOutputFile::close(std::string* err) {
  const bool ok = CloseHandle(reinterpret_cast<HANDLE>(file_.handle));
  file_.handle = ScratchFile::kClosed;
  if (!ok) *err = systemError(GetLastError());
  return ok;
}

bool DiskOutputFile::replace(std::string* err) {
  if (inPlace_) return true;
  // The new file takes the old one's attributes (a new one is shown, not hidden); ReplaceFileA
  // keeps the rest of what the old one had. It wants whole paths.
  const DWORD old = GetFileAttributesA(path_.c_str());
  const std::string from = fullPath(file_.name), to = fullPath(path_);
  const bool ok = !from.empty() && !to.empty() &&
                  SetFileAttributesA(
                      from.c_str(), old == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_NORMAL : old) &&
                  (old == INVALID_FILE_ATTRIBUTES
                       ? MoveFileExA(from.c_str(), to.c_str(), 0)
                       : ReplaceFileA(to.c_str(), from.c_str(), nullptr,
                                      REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr));
  if (!ok) {
    *err = fileFailure(GetLastError());
    return false;
  }
  releaseScratchName(&file_);
  return true;
}

void DiskOutputFile::discard() {
  removeScratchFile(&file_);
}

}  // namespace mkani
