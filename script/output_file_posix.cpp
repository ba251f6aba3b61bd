#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#include <linux/limits.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#elif defined(__APPLE__)
#include <copyfile.h>
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

// Returns true when `path` is a regular file, not through a symbolic link.
bool regularFile(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// Returns true when the current directory keeps every name it holds (append-only or
// immutable), or may: a scratch file made there could never be renamed or removed. `injected`
// is what a test has the reading of its flags fail with.
bool keepsEveryName(int injected) {
#if defined(__linux__)
  struct statx st;
  if (injected == 0 && statx(AT_FDCWD, ".", AT_STATX_SYNC_AS_STAT, 0, &st) == 0)
    return (st.stx_attributes & (STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE)) != 0;
  // statx refused (some container profiles answer EPERM or ENOSYS): the flags themselves.
  const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
  int flags = 0;
  const int error = folder != -1 && ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 ? 0 : errno;
  if (folder != -1) ::close(folder);
  if (error == 0) return (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
  // A file system without such flags keeps none; where they cannot be read, it may.
  return error != ENOTTY && error != ENOTSUP && error != ENOSYS && error != EINVAL;
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__) || \
    defined(__DragonFly__)
  // The BSD flags (chflags uappnd, schg and the like).
  struct stat st;
  if (injected == 0 && stat(".", &st) == 0)
    return (st.st_flags & (UF_APPEND | SF_APPEND | UF_IMMUTABLE | SF_IMMUTABLE)) != 0;
  return true;  // where they cannot be read, it may
#else
  return injected != 0;  // no such flags to read here
#endif
}

// Returns EFBIG when `size` bytes pass the file size limit, else 0.
int withinLimit(uint64_t size) {
  struct rlimit limit;
  return getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
                 size > limit.rlim_cur
             ? EFBIG
             : 0;
}

// Returns 0 when the file system `fs` has room for `size` bytes in a file that holds and has
// room for `have` of them, else ENOSPC. One that gives no block counts (FAT32 through fusefat)
// has unknown room: write and see.
int freeRoom(const struct statvfs& fs, uint64_t size, uint64_t have) {
  if (fs.f_blocks == 0) return 0;
  const uint64_t free = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  return size <= have + free ? 0 : ENOSPC;
}

#if defined(__linux__)
// Returns true when the file system of `fd` writes every change to new blocks, or may, so that
// the blocks a file holds are no room for rewriting it.
bool copiesOnWrite(int fd) {
  const long kBtrfs = 0x9123683e, kZfs = 0x2fc12fc1, kBcachefs = 0xca451a4e;
  struct statfs fs;
  return fstatfs(fd, &fs) != 0 || fs.f_type == kBtrfs || fs.f_type == kZfs ||
         fs.f_type == kBcachefs;
}
#endif

// Makes room for `size` bytes in the file `fd`: within the file size limit, and reserved on
// the disk where the file system can, else checked against its free space. Returns 0 or errno.
int makeRoom(int fd, uint64_t size) {
  if (const int error = withinLimit(size)) return error;
#if defined(__linux__)
  if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) return 0;
  // A full XFS refuses to reserve even blocks the file holds, which it overwrites in place.
  if (errno != EOPNOTSUPP && (errno != ENOSPC || copiesOnWrite(fd))) return errno;
#endif
  // A call that fails leaves its zeros: no block counts, so unknown room: write and see.
  struct stat st = {};
  struct statvfs fs = {};
  fstat(fd, &st);
  fstatvfs(fd, &fs);
  // What the file holds and has room for: some file systems (FAT through FUSE) give an empty
  // file a block, others leave holes.
  return freeRoom(fs, size, std::min<uint64_t>(st.st_size, st.st_blocks * 512));
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
  // Opened without blocking, so that a FIFO without a reader cannot hold the run, never through
  // a symbolic link, and for reading too where the script allows, so that a rewrite in place
  // can put it back.
  int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC;
  int old = ::open(path_.c_str(), flags | O_NONBLOCK);
  if (old == -1 && errno == EACCES) {
    flags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC;
    old = ::open(path_.c_str(), flags | O_NONBLOCK);
  }
  // A program holding a read lease on it (a file server) is waited for while it lets go; only
  // a regular file has one.
  if (old == -1 && errno == EWOULDBLOCK && regularFile(path_.c_str()))
    old = ::open(path_.c_str(), flags);
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
  if (keepsEveryName(fault(Step::kFolderFlags))) renameRefused_ = true;
  return true;
}

int DiskOutputFile::carryOver() {
  if (!kept_) return 0;
  const int to = static_cast<int>(file_.handle);
#if defined(__linux__)
  const int from = static_cast<int>(old_);
  // The access list exactly, one that the folder's default gave the new file removed; the other
  // attributes (a user's notes, tags) too. Only the labels that the process may not set
  // (security.* and trusted.*, but as root) are left to the folder. A file system without
  // attributes has none to carry; any other failure to read or give one refuses the whole
  // replacement, and the rewrite in place keeps them all.
  const char kAccessList[] = "system.posix_acl_access";
  const int kCreateOrReplace = 0;
  std::string names(XATTR_LIST_MAX, '\0'), value(XATTR_SIZE_MAX, '\0');
  int error = attempt(Step::kListAttributes, [&] {
    const ssize_t size = flistxattr(from, names.data(), names.size());
    if (size < 0) return errno;
    names.resize(static_cast<size_t>(size));
    return 0;
  });
  if (error != 0 && error != ENOTSUP) return error;
  if (error != 0) names.clear();  // a file system without attributes: none to carry
  bool hasList = false;
  for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    const char* name = &names[at];
    const bool isList = std::strcmp(name, kAccessList) == 0;
    hasList = hasList || isList;
    ssize_t length = 0;
    error = attempt(Step::kReadAttribute, [&] {
      length = fgetxattr(from, name, value.data(), value.size());
      return length < 0 ? errno : 0;
    });
    if (error == ENODATA) continue;  // gone meanwhile
    if (error != 0) return error;
    error = attempt(isList ? Step::kAccessList : Step::kWriteAttribute, [&] {
      const size_t bytes = static_cast<size_t>(length);
      return fsetxattr(to, name, value.data(), bytes, kCreateOrReplace) == 0 ? 0 : errno;
    });
    const bool label =
        std::strncmp(name, "security.", 9) == 0 || std::strncmp(name, "trusted.", 8) == 0;
    if (error != 0 && !(label && error == EPERM)) return error;
  }
  if (!hasList) {
    error = attempt(Step::kAccessList,
                    [to, &kAccessList] { return fremovexattr(to, kAccessList) == 0 ? 0 : errno; });
    if (error != 0 && error != ENODATA && error != ENOTSUP) return error;
  }
#elif defined(__APPLE__)
  // The access list and the extended attributes (Finder tags and comments); a file system
  // without them has none to carry, and any other failure refuses the whole replacement.
  const int error = attempt(Step::kListAttributes, [&] {
    return fcopyfile(static_cast<int>(old_), to, nullptr, COPYFILE_ACL | COPYFILE_XATTR) == 0
               ? 0
               : errno;
  });
  if (error != 0 && error != ENOTSUP) return error;
#endif
  struct stat now;
  if (fstat(to, &now) != 0) return errno;
  if (now.st_uid != kept_->owner || now.st_gid != kept_->group) {
    const int error = attempt(
        Step::kOwner, [&] { return fchown(to, kept_->owner, kept_->group) == 0 ? 0 : errno; });
    if (error != 0) return error;
  }
  return attempt(Step::kMode, [&] { return giveMode(to, kept_->mode); });
}

std::string DiskOutputFile::describe(int error) const {
  return openFailure(path_.c_str(), error);
}

bool DiskOutputFile::refusedHere(int error) {
  return error == EACCES || error == EPERM || error == ENOSPC || error == EDQUOT;
}

int DiskOutputFile::makeRoomIn(intptr_t handle) const {
  return makeRoom(static_cast<int>(handle), size_);
}

int DiskOutputFile::roomInFolder() const {
  struct statvfs fs;
  const int error = withinLimit(size_);
  return error == 0 && statvfs(".", &fs) == 0 ? freeRoom(fs, size_, 0) : error;
}

void DiskOutputFile::restoreMode(intptr_t handle) {
  if (kept_) giveMode(static_cast<int>(handle), kept_->mode);
}

int DiskOutputFile::replace(const std::string& /*copy*/) {
  // A rename leaves the old file where it was or puts the new one in its place, making no copy.
  return attempt(Step::kRename,
                 [this] { return ::rename(file_.name.c_str(), path_.c_str()) == 0 ? 0 : errno; });
}

bool DiskOutputFile::exists(const std::string& name) const {
  struct stat st;
  return lstat(name.c_str(), &st) == 0;
}

int DiskOutputFile::reopen(ScratchFile* file) {
  file->handle = ::open(file->name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  return file->handle < 0 ? errno : 0;
}

int DiskOutputFile::openOld() {
  file_.handle = std::exchange(old_, ScratchFile::kClosed);  // closed when there was none
  return 0;
}

int DiskOutputFile::createNew(std::optional<FileId>* made) {
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  file_.handle = fd;
  struct stat st;
  if (fstat(fd, &st) == 0)
    *made = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return 0;
}

bool DiskOutputFile::lockRewrite(bool wait) {
  const int error = attempt(Step::kLock, [this, wait] {
    return flock(static_cast<int>(file_.handle), LOCK_EX | (wait ? 0 : LOCK_NB)) == 0 ? 0 : errno;
  });
  // Where the file system keeps no locks (ENOLCK on some network mounts), the rewrite goes on.
  return wait || error != EWOULDBLOCK;
}

bool DiskOutputFile::touched() {
  return lseek(static_cast<int>(file_.handle), 0, SEEK_CUR) != 0;
}

void DiskOutputFile::removeCreated(const FileId& made) {
  struct stat st;
  if (lstat(path_.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == made.volume &&
      st.st_ino == made.index) {
    ::unlink(path_.c_str());
  }
}

int DiskOutputFile::cut() {
  const int fd = static_cast<int>(file_.handle);
  const off_t end = lseek(fd, 0, SEEK_CUR);  // the end of what was written; -1 fails the cut
  struct stat st;
  if (fstat(fd, &st) != 0) return errno;
  // Cut where the old script was longer (and only there: FAT through FUSE refuses the rest).
  return st.st_size == end || ftruncate(fd, end) == 0 ? 0 : errno;
}

bool DiskOutputFile::seekStart() {
  return lseek(static_cast<int>(file_.handle), 0, SEEK_SET) == 0;
}

void DiskOutputFile::closeOld() {
  const intptr_t old = std::exchange(old_, ScratchFile::kClosed);
  if (old >= 0) ::close(static_cast<int>(old));
}

}  // namespace mkani
