// Helpers for tests that run in real temporary folders and child processes.
#ifndef MKANI_TEST_TEST_UTIL_H_
#define MKANI_TEST_TEST_UTIL_H_

#include <functional>
#include <string>
#include <vector>

#include "app/console.h"

namespace mkani {

// A new empty folder, made the current directory while the object lives, then removed with all
// it holds.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string previous_;
};

// Creates or replaces the file `name` with `contents`.
void writeFile(const std::string& name, const std::string& contents = "");

// Returns the bytes of the file `name`, or "<missing>" when it cannot be read.
std::string readFile(const std::string& name);

// Runs `body` in a forked child and returns its exit status, or 128 + the signal that ended it.
// With `unprivileged`, a child running as root first becomes the user nobody.
int inChild(const std::function<int()>& body, bool unprivileged = false);

// What a run of the mkani executable printed and returned.
struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

// Runs the mkani executable in `dir` with `args`, after `setup` has run in the child.
ToolRun runTool(const std::string& dir, const std::vector<std::string>& args = {},
                const std::function<void()>& setup = nullptr);

// Makes the child of inChild or runTool the user nobody when it runs as root.
void dropPrivileges();

// A console that keeps what it is given; printLine fails when `stdoutError` is set.
class CaptureConsole : public Console {
 public:
  bool printLine(std::string_view line, std::string* err) override;
  void errorLine(std::string_view line) override { err.emplace_back(line); }

  std::vector<std::string> out;
  std::vector<std::string> err;
  std::string stdoutError;
};

}  // namespace mkani

#endif  // MKANI_TEST_TEST_UTIL_H_
