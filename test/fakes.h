// Stand-ins that tests fill and fail where they want: a directory listing, a store for sorted
// runs, and the script's file on disk failing at one step.
#ifndef MKANI_TEST_FAKES_H_
#define MKANI_TEST_FAKES_H_

#include <cstring>
#include <string>
#include <vector>

#include "script/output_file.h"
#include "search/directory_source.h"
#include "search/run_store.h"

namespace mkani {

struct FakeDirectory : DirectorySource {
  FakeDirectory(std::vector<std::string> names = {}) : listings{std::move(names)} {}

  bool open(const char* /*pattern*/, std::string* err) override {
    const int pass = passes++;
    listing = &listings[std::min<size_t>(pass, listings.size() - 1)];
    read_ = 0;
    *err = "Permission denied";
    return isOpen = pass != failOpenAtPass;
  }

  Status read(std::string_view* name, std::string* err) override {
    *err = "Input/output error";
    if (passes - 1 == failReadAtPass && read_ == failReadAfter) return kFailed;
    if (read_ == listing->size()) return kEnd;
    *name = (*listing)[read_++];
    return (*name)[0] == '?' ? kUnwritable : kName;  // as a name no ANSI name can open
  }

  bool close(std::string* err) override {
    isOpen = false;
    *err = "Bad file descriptor";
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

struct FakeRunStore : RunStore {
  bool create(std::string* err) override { return !failCreate || fail(err); }
  bool append(const char* data, size_t size, std::string* err) override {
    if (appends++ == failAppendAt) return fail(err);
    bytes.append(data, size);
    return true;
  }
  bool read(uint64_t offset, char* data, size_t size, size_t* got, std::string* err) override {
    if (reads++ == failReadAt) return fail(err);
    *got = std::min<size_t>(size, bytes.size() - offset);
    std::memcpy(data, bytes.data() + offset, *got);
    return true;
  }
  void remove() override { bytes.clear(); }
  bool fail(std::string* err) {
    *err = "No space left on device";
    return false;
  }

  std::string bytes;
  bool failCreate = false;
  int failAppendAt = -1, failReadAt = -1;  // calls count from 0
  int appends = 0, reads = 0;
};

// The script's file on disk, failing at the step `failAt` names: "write", "close" or "replace".
struct FaultyFile : DiskOutputFile {
  explicit FaultyFile(std::string step) : failAt(std::move(step)) {}
  bool write(const char* data, size_t size, std::string* err) override {
    return failAt != "write" ? DiskOutputFile::write(data, size, err) : fail(err);
  }
  bool close(std::string* err) override {
    return DiskOutputFile::close(err) && (failAt != "close" || fail(err));
  }
  bool replace(std::string* err) override {
    return failAt != "replace" ? DiskOutputFile::replace(err) : fail(err);
  }
  bool fail(std::string* err) {
    *err = "Input/output error";
    return false;
  }
  std::string failAt;
};

}  // namespace mkani

#endif  // MKANI_TEST_FAKES_H_
