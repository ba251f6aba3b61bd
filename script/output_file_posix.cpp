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

}  // namespace

OutputFile::~OutputFile() {
  std::string ignored;
  if (isOpen()) close(&ignored);
}

bool OutputFile::create(const char* path, std::string* err) {
  // Non-blocking, so that a FIFO without a reader cannot hold the run; no truncation until the
  // file is known to be a regular one.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    *err = openFailure(path, errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *err = systemError(errno);
  } else if (!S_ISREG(st.st_mode)) {
    *err = "it is not a regular file";
  } else if (ftruncate(fd, 0) != 0 || fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    *err = systemError(errno);
  } else {
    handle_ = fd;
    return true;
  }
  ::close(fd);
  return false;
}

bool OutputFile::write(const char* data, size_t size, std::string* err) {
  return writeAll(handle_, data, size, err);
}

bool OutputFile::close(std::string* err) {
  const int status = ::close(static_cast<int>(handle_));
  handle_ = kClosed;
  if (status != 0) {
    *err = systemError(errno);
    return false;
  }
  return true;
}

}  // namespace mkani
