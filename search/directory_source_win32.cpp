#include <windows.h>

#include "search/directory_source.h"
#include "util/platform.h"

namespace mkani {
struct DiskDirectorySource::Pass {
  HANDLE find;
  WIN32_FIND_DATAA data;
  bool pending;  // data holds a name that read has not yielded yet
};

DiskDirectorySource::~DiskDirectorySource() {
  std::string ignored;
  if (pass_) close(&ignored);
}

bool DiskDirectorySource::open(const char* pattern, std::string* err) {
  Pass* pass = new Pass;
  pass->find = FindFirstFileA(pattern, &pass->data);
  pass->pending = pass->find != INVALID_HANDLE_VALUE;
  if (!pass->pending && GetLastError() != ERROR_FILE_NOT_FOUND) {
    *err = systemError(GetLastError());
    delete pass;
    return false;
  }
  pass_ = pass;  // nothing matches: an empty pass
  return true;
}

DirectorySource::Status DiskDirectorySource::read(std::string_view* name, std::string* err) {
  if (pass_->find == INVALID_HANDLE_VALUE) return kEnd;
  if (!pass_->pending && !FindNextFileA(pass_->find, &pass_->data)) {
    if (GetLastError() == ERROR_NO_MORE_FILES) return kEnd;
    *err = systemError(GetLastError());
    return kFailed;
  }
  pass_->pending = false;
  *name = pass_->data.cFileName;
  return kName;
}

bool DiskDirectorySource::close(std::string* err) {
  const bool ok = pass_->find == INVALID_HANDLE_VALUE || FindClose(pass_->find);
  if (!ok) *err = systemError(GetLastError());
  delete pass_;
  pass_ = nullptr;
  return ok;
}

}  // namespace mkani
