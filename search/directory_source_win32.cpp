#include <windows.h>

#include "search/ansi_name.h"
#include "search/directory_source.h"
#include "util/platform.h"

namespace mkani {
namespace {

// Converts `wide` to the code page `codePage` with `flags` into *out. Returns false when some
// character has no equivalent there, or the conversion fails.
bool convertAll(unsigned codePage, unsigned long flags, const wchar_t* wide, std::string* out,
                WideToBytes convert) {
  // UTF-8 holds every character: it takes no check for loss, which it refuses.
  int lossy = 0;
  int* const check = codePage == CP_UTF8 ? nullptr : &lossy;
  const int room = convert(codePage, flags, wide, nullptr, 0, check);
  out->resize(static_cast<size_t>(room > 0 ? room : 1));
  const int size = room > 0 ? convert(codePage, flags, wide, &(*out)[0], room, check) : 0;
  out->resize(size > 0 ? static_cast<size_t>(size) - 1 : 0);  // less the terminating NUL
  return size > 0 && !lossy;
}

// Converts `wide` to the code page `codePage` into *out. Returns false when some character has
// no equivalent there, or the conversion fails.
bool toCodePage(unsigned codePage, const wchar_t* wide, std::string* out, WideToBytes convert) {
  if (codePage != CP_UTF8) return convertAll(codePage, WC_NO_BEST_FIT_CHARS, wide, out, convert);
  // To UTF-8, broken UTF-16 is refused. Windows XP knows no flag for that: there the name is
  // converted without it and checked by converting it back.
  return convertAll(CP_UTF8, WC_ERR_INVALID_CHARS, wide, out, convert) ||
         (convertAll(CP_UTF8, 0, wide, out, convert) && wideFromUtf8(*out) == wide);
}

// Returns true when `name` ends in `suffix`, ASCII letter case ignored; `suffix` is lower case.
bool endsWith(const wchar_t* name, const std::wstring& suffix) {
  const size_t size = wcslen(name);
  if (size < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    wchar_t c = name[size - suffix.size() + i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != suffix[i]) return false;
  }
  return true;
}

}  // namespace

int platformWideToBytes(unsigned codePage, unsigned long flags, const wchar_t* wide, char* out,
                        int room, int* usedDefault) {
  BOOL used = FALSE;
  const int size = WideCharToMultiByte(codePage, flags, wide, -1, out, room, nullptr,
                                       usedDefault ? &used : nullptr);
  if (usedDefault) *usedDefault = used;
  return size;
}

DirectorySource::Status ansiName(unsigned codePage, const wchar_t* longName,
                                 const wchar_t* shortName, std::string* name, WideToBytes convert) {
  if (toCodePage(codePage, longName, name, convert) ||
      (*shortName && toCodePage(codePage, shortName, name, convert))) {
    return DirectorySource::kName;
  }
  toCodePage(CP_UTF8, longName, name, convert);
  return DirectorySource::kUnwritable;
}

struct DiskDirectorySource::Pass {
  HANDLE find;
  WIN32_FIND_DATAW data;
  bool pending;         // data holds an entry that read has not yielded yet
  std::wstring suffix;  // what a long name must end in: the pattern after its star
  std::string name;     // the name yielded last
};

DiskDirectorySource::~DiskDirectorySource() {
  std::string ignored;
  if (pass_) close(&ignored);
}

bool DiskDirectorySource::open(const char* pattern, std::string* err) {
  Pass* pass = new Pass;
  const std::wstring wide(pattern, pattern + strlen(pattern));  // the pattern is ASCII
  for (size_t i = wide.find(L'*') + 1; i < wide.size(); ++i) {
    pass->suffix += wide[i] >= L'A' && wide[i] <= L'Z' ? wide[i] - L'A' + L'a' : wide[i];
  }
  pass->find = FindFirstFileW(wholePath(pattern).c_str(), &pass->data);
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
  for (;;) {
    if (pass_->find == INVALID_HANDLE_VALUE) return kEnd;
    if (!pass_->pending && !FindNextFileW(pass_->find, &pass_->data)) {
      if (GetLastError() == ERROR_NO_MORE_FILES) return kEnd;
      *err = systemError(GetLastError());
      return kFailed;
    }
    pass_->pending = false;
    // The search also matches through the short 8.3 alias ("a.jpgx" for "*.jpg"): the long name
    // decides.
    if (!endsWith(pass_->data.cFileName, pass_->suffix)) continue;
    const Status status =
        ansiName(GetACP(), pass_->data.cFileName, pass_->data.cAlternateFileName, &pass_->name);
    *name = pass_->name;
    return status;
  }
}

bool DiskDirectorySource::close(std::string* err) {
  const bool ok = pass_->find == INVALID_HANDLE_VALUE || FindClose(pass_->find);
  if (!ok) *err = systemError(GetLastError());
  delete pass_;
  pass_ = nullptr;
  return ok;
}

}  // namespace mkani
