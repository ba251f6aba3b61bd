#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/platform.h"

namespace mkani {

std::string systemError(unsigned long code) {
  return std::strerror(static_cast<int>(code));
}

bool writeAll(intptr_t handle, const char* data, size_t size, std::string* err) {
  while (size > 0) {
    const ssize_t done = ::write(static_cast<int>(handle), data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      *err = done < 0 ? systemError(errno) : "nothing more was taken";
      return false;
    }
    data += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

}  // namespace mkani
