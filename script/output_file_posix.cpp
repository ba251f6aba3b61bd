#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/limits.h>
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "script/output_file.h"
#include "util/platform.h"
#include "util/stops.h"

namespace mkani {
namespace {

const int kModeBits = 07777;

// Why `path` could not be opened, naming what stands there when it is not a file at all.
std::string openFailure(const char* path, int error) {
  struct stat st;
  if (lstat(path, &st) == 0) {
    if (S_ISLNK(st.st_mode)) return "it is a symbolic link";
    if (S_ISDIR(st.st_mode)) return "it is a directory";
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  }
  return systemError(error);
}

// Returns true when `error` refuses a new file, or room for it, here, where the old file may
// still be written in place: no permission, no inode, no room for a second copy.
bool refusedHere(int error) {
  return error == EACCES || error == EPERM || error == ENOSPC || error == EDQUOT;
}

// Returns true when the current directory keeps every name it holds (append-only or
// immutable): a scratch file made there could never be renamed or removed.
bool keepsEveryName() {
#if defined(__linux__)
  struct statx st;
  return statx(AT_FDCWD, ".", AT_STATX_SYNC_AS_STAT, 0, &st) == 0 &&
         (st.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0;
#else
  return false;  // no such flags to read here
#endif
}

// Makes room for `size` bytes in the file `fd`: within the file size limit, and reserved on
// the disk where the file system can, else checked against its free space. Returns 0 or errno.
int makeRoom(int fd, uint64_t size) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      size > limit.rlim_cur) {
    return EFBIG;
  }
#if defined(__linux__)
  if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) return 0;
  if (errno != EOPNOTSUPP) return errno;
#endif
  struct stat st;
  struct statvfs fs;
  // Where nothing is known, write and see.
  if (fstat(fd, &st) != 0 || fstatvfs(fd, &fs) != 0) return 0;
  // What the file holds and has room for: some file systems (FAT through FUSE) give an empty
  // file a block, others leave holes.
  const uint64_t have = std::min<uint64_t>(st.st_size, st.st_blocks * 512);
  const uint64_t free = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  return size <= have + free ? 0 : ENOSPC;
}

// Closes `file`'s descriptor. Returns errno, else `injected`: what a test has the close fail with.
int closeFile(ScratchFile* file, int injected) {
  return ::close(static_cast<int>(std::exchange(file->handle, ScratchFile::kClosed))) == 0
             ? injected
             : errno;
}

// Gives the file `fd` the permission bits `mode` when it lacks them. Returns 0 or errno.
int giveMode(int fd, int mode) {
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  if (static_cast<int>(st.st_mode & kModeBits) == mode) return 0;
  return fchmod(fd, static_cast<mode_t>(mode)) == 0 ? 0 : errno;
}

}  // namespace

bool DiskOutputFile::examine(std::string* err) {
  // Opened without blocking, so that a FIFO without a reader cannot hold the run, and never
  // through a symbolic link.
  const int old = ::open(path_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (old == -1 && errno != ENOENT) {
    *err = openFailure(path_.c_str(), errno);
    return false;
  }
  old_ = old;  // kClosed when there is none
  struct stat st;
  if (old != -1 && (fstat(old, &st) != 0 || !S_ISREG(st.st_mode))) {
    *err = "it is not a regular file";
    return false;
  }
  if (old != -1) kept_ = Kept{static_cast<int>(st.st_mode & kModeBits), st.st_uid, st.st_gid};
  renameRefused_ = keepsEveryName();
  return true;
}

DiskOutputFile::Outcome DiskOutputFile::createScratch(std::string* err) {
  int error = fault(Step::kCreate);
  if (error == 0 && !createScratchFile(false, &file_, err)) error = errno;
  if (error == 0) error = makeRoom(static_cast<int>(file_.handle), size_);
  if (error == 0) return Outcome::kDone;
  *err = systemError(error);
  return refusedHere(error) ? Outcome::kRefused : Outcome::kFailed;
}

bool DiskOutputFile::carryOver() {
  if (!kept_) return true;
  const int to = static_cast<int>(file_.handle);
#if defined(__linux__)
  const int from = static_cast<int>(old_);
  // The access list exactly, one that the folder's default gave the new file removed; the other
  // attributes (labels, a user's notes) as far as the process may set them (not security.* or
  // trusted.* but as root).
  const char kAccessList[] = "system.posix_acl_access";
  const int kCreateOrReplace = 0;
  std::string names(XATTR_LIST_MAX, '\0'), value(XATTR_SIZE_MAX, '\0');
  const ssize_t size = flistxattr(from, names.data(), names.size());
  bool hasList = false;
  for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
    const bool isList = std::strcmp(&names[at], kAccessList) == 0;
    hasList = hasList || isList;
    const ssize_t length = fgetxattr(from, &names[at], value.data(), value.size());
    if (length < 0) continue;  // gone meanwhile
    const bool set =
        (!isList || fault(Step::kAccessList) == 0) &&
        fsetxattr(to, &names[at], value.data(), static_cast<size_t>(length), kCreateOrReplace) == 0;
    if (!set && isList) return false;
  }
  if (!hasList) {
    int error = fault(Step::kAccessList);
    if (error == 0 && fremovexattr(to, kAccessList) != 0) error = errno;
    if (error != 0 && error != ENODATA && error != ENOTSUP) return false;
  }
#endif
  struct stat now;
  if (fstat(to, &now) != 0) return false;
  if (now.st_uid != kept_->owner || now.st_gid != kept_->group) {
    const int error = fault(Step::kOwner);
    if (error != 0 || fchown(to, kept_->owner, kept_->group) != 0) return false;
  }
  return fault(Step::kMode) == 0 && giveMode(to, kept_->mode) == 0;
}

bool DiskOutputFile::closeScratch(std::string* err) {
  // Writing clears the set-user-ID bit: it is given back, as this process gave it before. An
  // unnamed file is named first: closing it would be the end of it.
  if (kept_) giveMode(static_cast<int>(file_.handle), kept_->mode);
  if (faulted(Step::kName, err) || !nameScratchFile(&file_, err)) return false;
  const int error = closeFile(&file_, fault(Step::kClose));
  if (error == 0) return true;
  *err = systemError(error);
  return false;
}

DiskOutputFile::Outcome DiskOutputFile::rename(std::string* err) {
  int error = fault(Step::kRename);
  if (error == 0 && ::rename(file_.name.c_str(), path_.c_str()) != 0) error = errno;
  if (error == 0) {
    releaseScratchName(&file_);
    return Outcome::kDone;
  }
  *err = systemError(error);
  return Outcome::kRefused;
}

bool DiskOutputFile::reopenScratch(ScratchFile* file, std::string* err) {
  errno = fault(Step::kReopen);  // a test's fault stands for the call's
  if (errno == 0) file->handle = ::open(file->name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (file->handle != ScratchFile::kClosed) return true;
  *err = systemError(errno);
  return false;
}

bool DiskOutputFile::openInPlace(std::string* err) {
  int fd = static_cast<int>(std::exchange(old_, ScratchFile::kClosed));
  if (fd == -1) {  // none was there: this is the first script, unless one came meanwhile
    fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd == -1) {
      *err = openFailure(path_.c_str(), errno);
      return false;
    }
  }
  file_.handle = fd;
  inPlace_ = true;
  if (const int error = makeRoom(fd, size_)) {
    *err = systemError(error);
    return false;
  }
  holdStops();
  held_ = true;
  return true;
}

bool DiskOutputFile::closeInPlace(std::string* err) {
  const int fd = static_cast<int>(file_.handle);
  const off_t end = lseek(fd, 0, SEEK_CUR);  // the end of what was written; -1 fails the cut
  struct stat st;
  int error = fstat(fd, &st) == 0 ? 0 : errno;
  // Cut where the old script was longer (and only there: FAT through FUSE refuses the rest).
  if (error == 0 && st.st_size != end) error = ftruncate(fd, end) == 0 ? fault(Step::kCut) : errno;
  // Writing clears the set-user-ID and set-group-ID bits: they are given back where the
  // process may.
  if (kept_) giveMode(fd, kept_->mode);
  const int closed = closeFile(&file_, fault(Step::kClose));
  if (error == 0) error = closed;
  held_ = false;
  releaseStops();
  if (error == 0) return true;
  *err = systemError(error);
  return false;
}

void DiskOutputFile::closeOld() {
  const intptr_t old = std::exchange(old_, ScratchFile::kClosed);
  if (old != ScratchFile::kClosed) ::close(static_cast<int>(old));
}

}  // namespace mkani
