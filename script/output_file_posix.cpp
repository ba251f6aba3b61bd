#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

// Gives the new file `fd` what the old one had: its owner and group where the process may
// (as root), and its permission bits.
bool takeOver(int fd, const struct stat& old, std::string* err) {
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
    const bool denied = errno == EACCES || errno == EPERM;
    // A folder that takes no new file: rewrite the old one in place, as far as that goes.
    int flags;
    ok = old >= 0 && denied && (flags = fcntl(old, F_GETFL)) != -1 &&
         fcntl(old, F_SETFL, flags & ~O_NONBLOCK) == 0 && ftruncate(old, 0) == 0;
    if (ok) {
      file_.handle = old;
      inPlace_ = true;
      return true;
    }
    if (old >= 0 && denied) *err = systemError(errno);
  } else if (old >= 0 && !takeOver(static_cast<int>(file_.handle), st, err)) {
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
