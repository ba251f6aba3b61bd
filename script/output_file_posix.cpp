#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/limits.h>
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <cstring>

#include "script/output_file.h"
#include "util/platform.h"

namespace mkani {
namespace {

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

#if defined(__linux__)
// Returns true when `error` says that an extended attribute cannot be set here: one that the
// process may not set (security.*, trusted.*) or that the file system does not hold.
bool notSettable(int error) {
  return error == EPERM || error == EACCES || error == ENOTSUP || error == ERANGE;
}

// Copies the extended attributes of the file `from` to the file `to`: access control lists,
// labels, a user's notes; those that change meanwhile or that cannot be set here are left.
bool copyAttributes(int from, int to, std::string* err) {
  // Linux holds at most 64 KiB of names, and of each value.
  std::string names(XATTR_LIST_MAX, '\0'), value(XATTR_SIZE_MAX, '\0');
  const ssize_t size = flistxattr(from, &names[0], names.size());
  for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(&names[at])) + 1) {
    const ssize_t length = fgetxattr(from, &names[at], &value[0], value.size());
    if (length < 0) continue;
    if (fsetxattr(to, &names[at], value.data(), static_cast<size_t>(length), 0) != 0 &&
        !notSettable(errno)) {
      *err = systemError(errno);
      return false;
    }
  }
  return true;
}
#endif

// Gives the new file `fd` what the old one had: its owner and group where the process may
// (as root), its permission bits and, on Linux, its extended attributes.
bool takeOver(int fd, int oldFd, const struct stat& old, std::string* err) {
#if defined(__linux__)
  if (!copyAttributes(oldFd, fd, err)) return false;
#else
  (void)oldFd;
#endif
  if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    if (errno != EPERM) {
      *err = systemError(errno);
      return false;
    }
    (void)fchown(fd, static_cast<uid_t>(-1), old.st_gid);  // the group, when a member of it
  }
  if (fchmod(fd, old.st_mode & 07777) != 0) {
    *err = systemError(errno);
    return false;
  }
  return true;
}

}  // namespace

DiskOutputFile::~DiskOutputFile() {
  discard();
}

bool DiskOutputFile::open(const char* path, std::string* err) {
  path_ = path;
  // The old file is checked through a descriptor of its own, non-blocking so that a FIFO
  // without a reader cannot hold the run, and never through a symbolic link.
  const int old = ::open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (old < 0 && errno != ENOENT) {
    *err = openFailure(path, errno);
    return false;
  }
  struct stat st;
  bool ok = true;
  if (old >= 0 && fstat(old, &st) != 0) {
    *err = systemError(errno);
    ok = false;
  } else if (old >= 0 && !S_ISREG(st.st_mode)) {
    *err = "it is not a regular file";
    ok = false;
  } else if (!createScratchFile(false, &file_, err)) {
    ok = false;
    if (old >= 0 && (errno == EACCES || errno == EPERM)) {
      // A folder that takes no new file: rewrite the old one in place, as far as that goes.
      const int flags = fcntl(old, F_GETFL);
      if (flags != -1 && fcntl(old, F_SETFL, flags & ~O_NONBLOCK) == 0 && ftruncate(old, 0) == 0) {
        file_.handle = old;
        inPlace_ = true;
        return true;
      }
      *err = systemError(errno);
    }
  } else if (old >= 0 && !takeOver(static_cast<int>(file_.handle), old, st, err)) {
    discard();
    ok = false;
  }
  if (old >= 0) ::close(old);
  return ok;
}

bool DiskOutputFile::write(const char* data, size_t size, std::string* err) {
  return writeAll(file_.handle, data, size, err);
}

bool DiskOutputFile::close(std::string* err) {
  // An unnamed file is named first: closing it would be the end of it.
  if (!inPlace_ && !nameScratchFile(&file_, err)) return false;
  const int status = ::close(static_cast<int>(file_.handle));
  file_.handle = ScratchFile::kClosed;
  if (status != 0) *err = systemError(errno);
  return status == 0;
}

bool DiskOutputFile::replace(std::string* err) {
  if (inPlace_) return true;
  if (::rename(file_.name.c_str(), path_.c_str()) != 0) {
    *err = systemError(errno);
    return false;
  }
  releaseScratchName(&file_);
  return true;
}

void DiskOutputFile::discard() {
  removeScratchFile(&file_);
}

}  // namespace mkani
