// A directory listing that tests write: names per pass, and failures where they want them.
#ifndef MKANI_TEST_FAKE_DIRECTORY_H_
#define MKANI_TEST_FAKE_DIRECTORY_H_

#include <string>
#include <vector>

#include "search/directory_source.h"

namespace mkani {

struct FakeDirectory : DirectorySource {
  FakeDirectory(std::vector<std::string> names = {}) : listings{std::move(names)} {}

  bool open(const char* /*pattern*/, std::string* err) override {
    const int pass = passes++;
    if (pass == failOpenAtPass) {
      *err = "Permission denied";
      return false;
    }
    listing = &listings[std::min<size_t>(pass, listings.size() - 1)];
    read_ = 0;
    return isOpen = true;
  }

  Status read(std::string_view* name, std::string* err) override {
    if (passes - 1 == failReadAtPass && read_ == failReadAfter) {
      *err = "Input/output error";
      return kFailed;
    }
    if (read_ == listing->size()) return kEnd;
    *name = (*listing)[read_++];
    return kName;
  }

  bool close(std::string* err) override {
    isOpen = false;
    if (failClose) *err = "Bad file descriptor";
    return !failClose;
  }

  std::vector<std::vector<std::string>> listings;  // one per pass; the last one repeats
  int failOpenAtPass = -1;                         // passes count from 0
  int failReadAtPass = -1;
  size_t failReadAfter = 0;  // names read in that pass before it fails
  bool failClose = false;
  int passes = 0;
  bool isOpen = false;

 private:
  const std::vector<std::string>* listing = nullptr;
  size_t read_ = 0;
};

}  // namespace mkani

#endif  // MKANI_TEST_FAKE_DIRECTORY_H_
