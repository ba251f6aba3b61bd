#include <windows.h>

#include "script/output_file.h"
#include "util/platform.h"
#include "util/stops.h"

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

// Cuts `file` where it was last written when it is longer. Returns 0 or the error.
DWORD cutHere(HANDLE file) {
  LARGE_INTEGER have, at, none = {};
  const bool cut = GetFileSizeEx(file, &have) && SetFilePointerEx(file, none, &at, FILE_CURRENT) &&
                   (have.QuadPart <= at.QuadPart || SetEndOfFile(file));
  return cut ? 0 : GetLastError();
}

// Returns 0 when the disk of the current directory has room for `size` bytes in a file that
// holds `have`, else ERROR_DISK_FULL; 0 too when that cannot be known.
DWORD roomFor(uint64_t have, uint64_t size) {
  ULARGE_INTEGER free;
  const bool known =
      GetDiskFreeSpaceExW((wholePath(".") + L"\\").c_str(), &free, nullptr, nullptr) != 0;
  return known && size > have && size - have > free.QuadPart ? ERROR_DISK_FULL : 0;
}

// SetFileInformationByHandle, which Windows XP lacks, and its request to allocate.
using SetFileInformation = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
const int kFileAllocationInfo = 5;
struct AllocationInfo {
  LARGE_INTEGER size;
};

// Allocates `size` bytes for the file `handle` where the system can be asked to. Returns 0, the
// error, or ERROR_CALL_NOT_IMPLEMENTED on Windows XP.
unsigned long allocate(intptr_t handle, uint64_t size) {
  static const auto setInformation = reinterpret_cast<SetFileInformation>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetFileInformationByHandle")));
  if (!setInformation) return ERROR_CALL_NOT_IMPLEMENTED;
  AllocationInfo allocation;
  allocation.size.QuadPart = static_cast<LONGLONG>(size);
  return setInformation(reinterpret_cast<HANDLE>(handle), kFileAllocationInfo, &allocation,
                        sizeof allocation)
             ? 0
             : GetLastError();
}

}  // namespace

unsigned long makeRoom(intptr_t handle, uint64_t size, Allocate allocate) {
  LARGE_INTEGER have;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(handle), &have)) return 0;  // write and see
  const uint64_t held = static_cast<uint64_t>(have.QuadPart);
  if (held >= size) return 0;  // an allocation below the size would cut the file
  const unsigned long error = allocate(handle, size);
  if (error == 0 || error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return error;
  return roomFor(held, size);  // FAT, a share, XP: nothing allocated
}

bool namesAnotherFile(unsigned long reparseTag) {
  return (reparseTag & 0x20000000) != 0;  // IsReparseTagNameSurrogate
}

namespace {

// Opens `path` with `access`, sharing it with every other program. Returns the handle, or
// INVALID_HANDLE_VALUE with the reason in GetLastError().
HANDLE openShared(const std::wstring& path, DWORD access, DWORD disposition) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool DiskOutputFile::examine(std::string* err) {
  const std::wstring path = wholePath(path_);
  WIN32_FIND_DATAW found;  // the entry itself, with its reparse tag (on XP too)
  const HANDLE find = FindFirstFileW(path.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return true;
  FindClose(find);
  const DWORD attributes = found.dwFileAttributes;
  const DWORD injected = static_cast<DWORD>(fault(Step::kReparseTag));
  const bool reparse = injected != 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // A link or junction would have the script written over whatever it points at. Other reparse
  // points (OneDrive's placeholders, deduplicated or compressed files) are files like any other.
  if (reparse && namesAnotherFile(injected != 0 ? injected : found.dwReserved0)) {
    *err = "it is a symbolic link";
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    *err = "it is a directory";
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) {  // said before CreateFileW's "Access is denied"
    *err = "it is read-only";
    return false;
  }
  // The old file must be one that can be written now. A program holding it for a moment (an
  // indexer, a sync client, another run) and a file being deleted are waited for; one that a
  // program holds longer, letting others write it but not replace it, and one that may be
  // written but not deleted (a share granting "Write" without "Modify") are rewritten in place.
  HANDLE old = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  for (int tries = 0; old == INVALID_HANDLE_VALUE && tries <= kRetries; ++tries) {
    if (tries > 0) Sleep(kRetryPause);
    error = static_cast<DWORD>(attempt(Step::kOpenOld, [&] {
      old = openShared(path, GENERIC_WRITE | DELETE, OPEN_EXISTING);
      return old == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : 0;
    }));
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) break;
  }
  if (old == INVALID_HANDLE_VALUE && error == ERROR_FILE_NOT_FOUND) return true;  // gone since
  if (old == INVALID_HANDLE_VALUE &&
      (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)) {
    old = openShared(path, GENERIC_WRITE, OPEN_EXISTING);
    renameRefused_ = old != INVALID_HANDLE_VALUE;
    if (old == INVALID_HANDLE_VALUE) error = GetLastError();
  }
  if (old == INVALID_HANDLE_VALUE) {
    *err = fileFailure(error);
    return false;
  }
  const bool disk = GetFileType(old) == FILE_TYPE_DISK;
  CloseHandle(old);  // open, it would keep ReplaceFileW from taking its name
  if (!disk) *err = "it is not a regular file";
  return disk;
}

std::string DiskOutputFile::describe(int error) const {
  return fileFailure(static_cast<DWORD>(error));
}

bool DiskOutputFile::refusedHere(int error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_DISK_FULL ||
         error == ERROR_HANDLE_DISK_FULL || error == ERROR_GEN_FAILURE;
}

int DiskOutputFile::makeRoomIn(intptr_t handle) const {
  return static_cast<int>(makeRoom(handle, size_, allocate));
}

int DiskOutputFile::roomInFolder() const {
  return static_cast<int>(roomFor(0, size_));
}

int DiskOutputFile::carryOver() {
  return 0;  // ReplaceFileW gives the new file the old one's access list and streams
}

void DiskOutputFile::restoreMode(intptr_t /*handle*/) {}  // no set-ID bits here

bool DiskOutputFile::exists(const std::string& name) const {
  return GetFileAttributesW(wholePath(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int DiskOutputFile::replace(const std::string& copy) {
  const std::wstring from = wholePath(file_.name), to = wholePath(path_), kept = wholePath(copy);
  const DWORD attributes = GetFileAttributesW(to.c_str());
  // The new file shows as the old one did (a new one is shown, not hidden); a file system that
  // keeps no attributes is no reason to fail.
  SetFileAttributesW(from.c_str(),
                     attributes == INVALID_FILE_ATTRIBUTES ? FILE_ATTRIBUTE_NORMAL : attributes);
  bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
  int error = 0;
  for (int tries = 0; tries <= kRetries; ++tries) {
    if (tries > 0) Sleep(kRetryPause);
    error = attempt(Step::kRename, [&] {
      const bool done = replacing
                            ? ReplaceFileW(to.c_str(), from.c_str(), kept.c_str(),
                                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                            : MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
      return done ? 0 : static_cast<int>(GetLastError());
    });
    if (error == 0) break;
    // ReplaceFileW moved the old file away and could not move the new one in (1176, 1177), or
    // another run took the old one away: the new one is moved in.
    if (replacing && !exists(path_)) {
      replacing = false;
    } else if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
      break;
    }
  }
  return error;
}

int DiskOutputFile::reopen(ScratchFile* file) {
  const HANDLE handle = openShared(wholePath(file->name), GENERIC_READ, OPEN_EXISTING);
  if (handle == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  file->handle = reinterpret_cast<intptr_t>(handle);
  return 0;
}

namespace {

// Opens `path` for rewriting in place with `disposition`, letting others read and write it:
// for reading too where it allows, so that a failed rewrite can be undone. Returns the handle,
// or INVALID_HANDLE_VALUE with the reason in GetLastError().
HANDLE openRewritable(const std::wstring& path, DWORD disposition) {
  HANDLE file = INVALID_HANDLE_VALUE;
  for (const DWORD access : {GENERIC_READ | GENERIC_WRITE, DWORD{GENERIC_WRITE}}) {
    file = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) break;
  }
  return file;
}

}  // namespace

int DiskOutputFile::openOld() {
  const HANDLE file = openRewritable(wholePath(path_), OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : static_cast<int>(error);  // none: file_ closed
  }
  file_.handle = reinterpret_cast<intptr_t>(file);
  return 0;
}

int DiskOutputFile::createNew(std::optional<FileId>* made) {
  const HANDLE file = openRewritable(wholePath(path_), CREATE_NEW);
  if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  file_.handle = reinterpret_cast<intptr_t>(file);
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info)) {
    *made =
        FileId{info.dwVolumeSerialNumber, uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
  }
  return 0;
}

bool DiskOutputFile::lockRewrite(bool wait) {
  // Runs lock one byte far past any script's end: they exclude each other, while a program that
  // shares write access still reaches the script itself.
  OVERLAPPED at = {};
  at.Offset = 0xFFFFFFFF;
  at.OffsetHigh = 0x3FFFFFFF;
  const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  const int error = attempt(Step::kLock, [&] {
    const bool locked = LockFileEx(reinterpret_cast<HANDLE>(file_.handle), flags, 0, 1, 0, &at);
    return locked ? 0 : static_cast<int>(GetLastError());
  });
  // Where the file system keeps no locks, the rewrite goes on.
  return wait || error != ERROR_LOCK_VIOLATION;
}

bool DiskOutputFile::touched() {
  LARGE_INTEGER at, none = {};
  return !SetFilePointerEx(reinterpret_cast<HANDLE>(file_.handle), none, &at, FILE_CURRENT) ||
         at.QuadPart != 0;
}

void DiskOutputFile::removeCreated(const FileId& made) {
  const std::wstring path = wholePath(path_);
  const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION now;
  const bool same = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &now) &&
                    now.dwVolumeSerialNumber == made.volume &&
                    (uint64_t{now.nFileIndexHigh} << 32 | now.nFileIndexLow) == made.index;
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (same) DeleteFileW(path.c_str());
}

int DiskOutputFile::cut() {
  return static_cast<int>(cutHere(reinterpret_cast<HANDLE>(file_.handle)));
}

bool DiskOutputFile::seekStart() {
  LARGE_INTEGER none = {};
  return SetFilePointerEx(reinterpret_cast<HANDLE>(file_.handle), none, nullptr, FILE_BEGIN) != 0;
}

void DiskOutputFile::closeOld() {
  if (old_ >= 0) CloseHandle(reinterpret_cast<HANDLE>(old_));
  old_ = ScratchFile::kClosed;
}

}  // namespace mkani
