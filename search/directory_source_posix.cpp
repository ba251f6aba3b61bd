#include <dirent.h>

#include <cerrno>
#include <cstring>

#include "search/directory_source.h"

namespace mkani {

struct DiskDirectorySource::Pass {
  DIR* dir;
};

DiskDirectorySource::~DiskDirectorySource() {
  std::string ignored;
  if (pass_) close(&ignored);
}

bool DiskDirectorySource::open(const char* /*pattern*/, std::string* err) {
  DIR* dir = opendir(".");
  if (!dir) {
    *err = std::strerror(errno);
    return false;
  }
  pass_ = new Pass{dir};
  return true;
}

DirectorySource::Status DiskDirectorySource::read(std::string_view* name, std::string* err) {
  errno = 0;
  const dirent* entry = readdir(pass_->dir);
  if (!entry) {
    if (errno == 0) return kEnd;
    *err = std::strerror(errno);
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
  if (status != 0) {
    *err = std::strerror(error);
    return false;
  }
  return true;
}

}  // namespace mkani
