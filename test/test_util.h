// Helpers for tests that run in real temporary folders.
#ifndef MKANI_TEST_TEST_UTIL_H_
#define MKANI_TEST_TEST_UTIL_H_

#include <string>
#include <vector>

#include "app/console.h"

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

// Returns how many entries the current directory holds.
long entryCount();

// Returns the names on the picture lines of the script `text`, in order.
std::vector<std::string> picturesIn(const std::string& text);

// What a run of the mkani executable printed and returned.
struct ToolRun {
  int status;
  std::string out, err;
};

// The line end of the executable's standard output and error on this platform.
extern const char kLineEnd[];

// Runs the mkani executable in the current directory with the command-line `args`.
ToolRun runTool(const std::string& args = "");

// POSIX only: the same, through sh after the shell commands `setup`, and as the user nobody
// with `unprivileged` when the tests run as root.
ToolRun runToolAfter(const std::string& setup, bool unprivileged = false,
                     const std::string& args = "");

// A console that keeps what it is given.
struct CaptureConsole : Console {
  bool printLine(std::string_view line, std::string* /*err*/) override {
    out.emplace_back(line);
    return true;
  }
  void errorLine(std::string_view line) override { err.emplace_back(line); }
  std::vector<std::string> out, err;
};

}  // namespace mkani

#endif  // MKANI_TEST_TEST_UTIL_H_
