#include <dirent.h>

#include <cerrno>
#include <memory>

#include "search/directory_source.h"
#include "util/platform.h"

namespace mkani {

struct DiskDirectorySource::Pass {
  DIR* dir;
};

bool DiskDirectorySource::open(const char* /*pattern*/, std::string* err) {
  // The pass first: when memory is short, no directory is left open behind the failure.
  std::unique_ptr<Pass> pass(new Pass);
  pass->dir = opendir(".");
  if (!pass->dir) {
    *err = systemError(errno);
    return false;
  }
  pass_ = pass.release();
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

DiskDirectorySource::~DiskDirectorySource() {
  std::string ignored;
  if (pass_) close(&ignored);
}

}  // namespace mkani
