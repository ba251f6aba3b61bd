#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/platform.h"

namespace mkani {

// No call here is interrupted (EINTR): the signal handlers that mkani sets end the process.

std::string systemError(unsigned long code) {
  return std::strerror(static_cast<int>(code));
}

unsigned long lastError() {
  return static_cast<unsigned long>(errno);
}

int closeHandle(intptr_t handle) {
  return ::close(static_cast<int>(handle)) == 0 ? 0 : errno;
}

int removeFile(const std::string& name) {
  return ::unlink(name.c_str()) == 0 ? 0 : errno;
}

bool writeAll(intptr_t handle, const char* data, size_t size, std::string* err) {
  while (size > 0) {
    const ssize_t done = ::write(static_cast<int>(handle), data, size);
    if (done <= 0) {
      if (done == 0) errno = ENOSPC;  // nothing more was taken: the file has no room
      *err = systemError(errno);
      return false;
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

bool readAt(intptr_t handle, uint64_t offset, char* data, size_t size, size_t* got,
            std::string* err) {
  const ssize_t done = ::pread(static_cast<int>(handle), data, size, static_cast<off_t>(offset));
  if (done < 0) {
    *err = systemError(errno);
    return false;
  }
  *got = static_cast<size_t>(done);
  return true;
}

}  // namespace mkani
