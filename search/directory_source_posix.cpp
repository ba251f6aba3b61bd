#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <cstdint>
#include <memory>

#include "search/directory_source.h"
#include "util/platform.h"

namespace mkani {

#if defined(__linux__)

// Linux: entries straight from getdents64, a megabyte at a time. readdir asks for 32 KiB per
// call, which for a million entries is over a thousand calls, each finding its place in the
// directory again.
namespace {

const size_t kListingBuffer = size_t{1} << 20;

struct LinuxDirent64 {
  uint64_t d_ino;
  int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];
};

}  // namespace

struct DiskDirectorySource::Pass {
  int fd;
  std::unique_ptr<char[]> buffer{new char[kListingBuffer]};
  size_t size = 0;  // bytes of entries in buffer
  size_t at = 0;    // the next one
};

bool DiskDirectorySource::open(const char* /*pattern*/, std::string* err) {
  // The buffer first: when memory is short, no descriptor is left open behind the failure.
  std::unique_ptr<Pass> pass(new Pass);
  pass->fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (pass->fd < 0) {
    *err = systemError(errno);
    return false;
  }
  pass_ = pass.release();
  return true;
}

DirectorySource::Status DiskDirectorySource::read(std::string_view* name, std::string* err) {
  if (pass_->at == pass_->size) {
    const long got = syscall(SYS_getdents64, pass_->fd, pass_->buffer.get(), kListingBuffer);
    if (got < 0) {
      *err = systemError(errno);
      return kFailed;
    }
    if (got == 0) return kEnd;
    pass_->size = static_cast<size_t>(got);
    pass_->at = 0;
  }
  const auto* entry = reinterpret_cast<const LinuxDirent64*>(pass_->buffer.get() + pass_->at);
  pass_->at += entry->d_reclen;
  *name = entry->d_name;
  return kName;
}

bool DiskDirectorySource::close(std::string* err) {
  const int status = ::close(pass_->fd);
  const int error = errno;
  delete pass_;
  pass_ = nullptr;
  if (status != 0) *err = systemError(error);
  return status == 0;
}

#else

struct DiskDirectorySource::Pass {
  DIR* dir;
};

bool DiskDirectorySource::open(const char* /*pattern*/, std::string* err) {
  DIR* dir = opendir(".");
  if (!dir) {
    *err = systemError(errno);
    return false;
  }
  pass_ = new Pass{dir};
  return true;
}

DirectorySource::Status DiskDirectorySource::read(std::string_view* name, std::string* err) {
  errno = 0;  // readdir's end and its failure differ only in errno
  const dirent* entry = readdir(pass_->dir);
  if (!entry) {
    if (errno == 0) return kEnd;
    *err = systemError(errno);
    return kFailed;
  }
  *name = entry->d_name;
  return kName;
}

bool DiskDirectorySource::close(std::string* err) {
  const int status = closedir(pass_->dir);
  const int error = errno;
  delete pass_;
  pass_ = nullptr;
  if (status != 0) *err = systemError(error);
  return status == 0;
}

#endif

DiskDirectorySource::~DiskDirectorySource() {
  std::string ignored;
  if (pass_) close(&ignored);
}

}  // namespace mkani
