// Helpers for tests that run in real temporary folders, and stand-ins that tests fill and fail
// where they want: a directory listing, a store for sorted runs, and the script's file on disk
// failing at one step.
#ifndef MKANI_TEST_TEST_UTIL_H_
#define MKANI_TEST_TEST_UTIL_H_

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "script/output_file.h"
#include "script/script_writer.h"
#include "search/directory_source.h"
#include "search/run_store.h"

namespace mkani {

namespace fs = std::filesystem;

// A new empty folder, the current directory while the object lives, then removed.
struct ScopedTempDir {
  ScopedTempDir() {
    std::random_device random;
    do {
      path = (fs::temp_directory_path() / ("mkani-test-" + std::to_string(random()))).string();
    } while (!fs::create_directory(path));
    fs::current_path(path);
  }
  ~ScopedTempDir() {
    fs::current_path(previous);
    std::error_code ignored;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);  // tests take some
    fs::remove_all(path, ignored);
  }
  std::string path;
  std::string previous = fs::current_path().string();
};

// Creates or replaces the file `name` with `contents`.
inline void writeFile(const std::string& name, const std::string& contents = "") {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << contents;
}

// Returns the bytes of the file `name`, or "<missing>" when it cannot be read.
inline std::string readFile(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<missing>";
}

// Returns how many entries of the current directory have names that begin with `prefix`.
inline long entryCount(const std::string& prefix = "") {
  std::error_code unreadable;  // counts none
  return std::count_if(
      fs::directory_iterator(".", unreadable), fs::directory_iterator(),
      [&](auto& entry) { return entry.path().filename().string().rfind(prefix, 0) == 0; });
}

// Returns how many files this process has open; 0 without /proc.
inline long openFiles() {
  std::error_code none;
  return std::distance(fs::directory_iterator("/proc/self/fd", none), fs::directory_iterator());
}

// Returns the script for the pictures `names`, put together the plain way.
inline std::string expectedScript(const std::vector<std::string>& names) {
  std::string text = ";Automatically created by Pelorin.\r\n\r\nvoice_data\\w.wav\r\n\r\n";
  std::string index, strings;
  for (size_t k = 0; k < names.size(); ++k) {
    const std::string value = std::to_string(10 * (k + 1));
    text += names[k] + "\t\t;" + std::to_string(k) + " \r\n";
    index += "\t\t" + std::to_string(k) + "\r\n" + value;
    strings += "\"\"\r\n\"\"\r\n" + value + "\r\n";
  }
  return text + "\r\nEOJ\r\n" + index + "\r\n\r\nEOFL\r\n\r\n" + strings +
         "\r\n\"EOTL\"\r\n\r\nEOF\r\n\r\n";
}

// Writes main.ani for `names` in the current directory through `file`, buffering `bufferSize`
// bytes (ScriptWriter::kBufferSize when 0); returns the first failure, or "".
inline std::string writeScript(const std::vector<std::string>& names, OutputFile* file,
                               size_t bufferSize = 0) {
  ScriptWriter script(file, bufferSize ? bufferSize : ScriptWriter::kBufferSize);
  std::string err;
  size_t bytes = 0;
  for (const std::string& name : names) bytes += name.size();
  if (script.open(names.size(), bytes, &err)) {
    for (size_t k = 0; k < names.size(); ++k) script.writePicture(names[k], k, &err);
    script.finish(names.size(), &err);
  }
  script.close(&err);
  return err;
}

// The line end of the executable's standard output and error on this platform.
extern const char kLineEnd[];

// The platform's error code for a file that may not be made: it refuses a whole replacement,
// and the script is rewritten in place.
extern const int kAccessDenied;

// Runs the mkani executable in the current directory with the command-line `args`. Returns
// "STATUS|OUT|ERR": its exit status and what it wrote to standard output and error.
std::string runTool(const std::string& args = "");

// POSIX only: the same, through sh after the shell commands `setup`, and as the user nobody (in
// the group users, 100) with `unprivileged` when the tests run as root.
std::string runToolAfter(const std::string& setup, bool unprivileged = false,
                         const std::string& args = "");

// Lists `names` in every pass; a name that begins with '?' comes as one that no name in the
// script could open.
struct FakeDirectory : DirectorySource {
  FakeDirectory(std::vector<std::string> listing = {}) : names(std::move(listing)) {}
  bool open(const char* /*pattern*/, std::string* err) override {
    read_ = 0;
    *err = "Permission denied";
    isOpen = passes != failOpenAtPass;
    ++passes;
    return isOpen;
  }
  Status read(std::string_view* name, std::string* err) override {
    *err = "Input/output error";
    if (passes - 1 == failReadAtPass && read_ == failReadAfter) return kFailed;
    if (read_ == names.size()) return kEnd;
    *name = names[read_++];
    return (*name)[0] == '?' ? kUnwritable : kName;
  }
  bool close(std::string* err) override {
    *err = "Bad file descriptor";
    isOpen = false;
    return !failClose;
  }

  std::vector<std::string> names;
  int failOpenAtPass = -1;  // passes count from 0
  int failReadAtPass = -1;
  int passes = 0;
  size_t failReadAfter = 120;  // names read in the failing pass before it fails
  size_t read_ = 0;            // names read in this pass
  bool failClose = false;
  bool isOpen = false;
};

// Runs set aside in memory; the calls fail where the test says.
struct FakeRunStore : RunStore {
  bool create(std::string* /*err*/) override { return true; }
  bool append(const char* data, size_t size, std::string* err) override {
    largest = std::max<int>(largest, size);
    const bool fails = appends == failAppendAt;
    ++appends;
    if (fails) return fail(err);
    bytes.append(data, size);
    return true;
  }
  bool read(uint64_t at, char* data, size_t size, size_t* got, std::string* err) override {
    const bool fails = reads == failReadAt;
    ++reads;
    if (fails) return fail(err);
    *got = std::min<size_t>(size, bytes.size() - at);
    std::memcpy(data, bytes.data() + at, *got);
    return true;
  }
  void remove() override {
    bytes.clear();
    ++removes;
  }
  bool fail(std::string* err) {
    *err = "No space left on device";
    return false;
  }

  std::string bytes;
  // Calls counted from 0, and the size of the largest append.
  int failAppendAt = -1, failReadAt = -1, appends = 0, reads = 0, removes = 0, largest = 0;
};

// The script's file on disk, whose calls fail at the steps `faults` names, each with its error
// code; it counts the writes.
struct FaultyFile : DiskOutputFile {
  explicit FaultyFile(std::map<Step, int> faults = {},
                      std::function<void(const std::string&)> notice = {})
      : DiskOutputFile(std::move(notice)), faults(std::move(faults)) {}
  int fault(Step step) override {
    if (before) before(step);
    if (step == Step::kWrite) ++writes;
    // A code left by some earlier call, one that means "try again": the call made now must be
    // judged by what it returns.
    errno = EWOULDBLOCK;
    const auto found = faults.find(step);
    if (found == faults.end()) return 0;
    if (step == Step::kWrite && writes <= writesBeforeFault) return 0;
    return found->second;
  }
  std::map<Step, int> faults;
  std::function<void(Step)> before;  // what the surroundings do as a step comes, if anything
  size_t writes = 0, writesBeforeFault = 0;
};

}  // namespace mkani

#endif  // MKANI_TEST_TEST_UTIL_H_
