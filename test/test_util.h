// Helpers for tests that run in real temporary folders.
#ifndef MKANI_TEST_TEST_UTIL_H_
#define MKANI_TEST_TEST_UTIL_H_

#include <string>
#include <vector>

namespace mkani {

// A new empty folder, the current directory while the object lives, then removed.
struct ScopedTempDir {
  ScopedTempDir();
  ~ScopedTempDir();
  std::string path, previous;
};

// Creates or replaces the file `name` with `contents`.
void writeFile(const std::string& name, const std::string& contents = "");

// Returns the bytes of the file `name`, or "<missing>" when it cannot be read.
std::string readFile(const std::string& name);

// Returns how many entries of the current directory have names that begin with `prefix`.
long entryCount(const std::string& prefix = "");

// Returns the names on the picture lines of the script `text`, in order.
std::vector<std::string> picturesIn(const std::string& text);

// What a run of the mkani executable printed and returned.
struct ToolRun {
  int status;
  std::string out, err;
  // Returns "status|out|err", to compare a whole run at once.
  std::string str() const { return std::to_string(status) + "|" + out + "|" + err; }
};

// The line end of the executable's standard output and error on this platform.
extern const char kLineEnd[];

// Runs the mkani executable in the current directory with the command-line `args`.
ToolRun runTool(const std::string& args = "");

// POSIX only: the same, through sh after the shell commands `setup`, and as the user nobody (in
// the group users, 100) with `unprivileged` when the tests run as root.
ToolRun runToolAfter(const std::string& setup, bool unprivileged = false,
                     const std::string& args = "");

}  // namespace mkani

#endif  // MKANI_TEST_TEST_UTIL_H_
