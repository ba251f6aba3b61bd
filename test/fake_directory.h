// A directory listing that tests write: names per pass, and failures where they want them.
#ifndef MKANI_TEST_FAKE_DIRECTORY_H_
#define MKANI_TEST_FAKE_DIRECTORY_H_

#include <string>
#include <vector>

#include "search/directory_source.h"

namespace mkani {

class FakeDirectory : public DirectorySource {
 public:
  FakeDirectory() = default;
  explicit FakeDirectory(std::vector<std::string> names) : listings{std::move(names)} {}

  bool open(const char* /*pattern*/, std::string* err) override {
    if (isOpen) throw "open while open";
    if (passes == failOpenAtPass) {
      ++passes;
      *err = "Permission denied";
      return false;
    }
    current = listings[std::min(static_cast<size_t>(passes), listings.size() - 1)];
    ++passes;
    isOpen = true;
    at = 0;
    return true;
  }

  Status read(std::string_view* name, std::string* err) override {
    if (passes - 1 == failReadAtPass && at == failReadAfter) {
      *err = "Input/output error";
      return kFailed;
    }
    if (at == current.size()) return kEnd;
    *name = current[at++];
    return kName;
  }

  bool close(std::string* err) override {
    if (!isOpen) throw "close while closed";
    isOpen = false;
    if (failClose) {
      *err = "Bad file descriptor";
      return false;
    }
    return true;
  }

  std::vector<std::vector<std::string>> listings;  // one per pass; the last one repeats
  int failOpenAtPass = -1;                         // counted from 0
  int failReadAtPass = -1;
  size_t failReadAfter = 0;  // names read in that pass before it fails
  bool failClose = false;

  int passes = 0;
  bool isOpen = false;

 private:
  std::vector<std::string> current;
  size_t at = 0;
};

}  // namespace mkani

#endif  // MKANI_TEST_FAKE_DIRECTORY_H_
