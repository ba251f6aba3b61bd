#include "test/test_util.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace mkani {

ScopedTempDir::ScopedTempDir() {
  std::string pattern = (fs::temp_directory_path() / "mkani-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  path_ = pattern;
  previous_ = fs::current_path().string();
  fs::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() {
  fs::current_path(previous_);
  std::system(("chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'").c_str());
}

void writeFile(const std::string& name, const std::string& contents) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << contents;
}

std::string readFile(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  if (!file) return "<missing>";
  std::ostringstream data;
  data << file.rdbuf();
  return data.str();
}

std::vector<std::string> picturesIn(const std::string& text) {
  std::vector<std::string> names;
  const size_t listEnd = text.find("\r\nEOJ\r\n");
  size_t line = text.find("\r\n\r\n", text.find("voice_data")) + 4;
  for (size_t tabs; (tabs = text.find("\t\t;", line)) < listEnd; line = text.find('\n', tabs) + 1) {
    names.push_back(text.substr(line, tabs - line));
  }
  return names;
}

ToolRun runTool(const std::string& args, const std::string& setup, bool unprivileged) {
  const std::string out = fs::temp_directory_path() / ("mkani-out-" + std::to_string(getpid()));
  const std::string user =
      unprivileged && geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  const std::string command =
      (setup.empty() ? "" : setup + "; ") + "exec " + user + MKANI_EXE " " + args;
  const int status =
      std::system(("sh -c '" + command + "' >" + out + ".1 2>" + out + ".2 </dev/null").c_str());
  ToolRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out + ".1"),
              readFile(out + ".2")};
  fs::remove(out + ".1");
  fs::remove(out + ".2");
  return run;
}

bool CaptureConsole::printLine(std::string_view line, std::string* error) {
  if (!stdoutError.empty()) {
    *error = stdoutError;
    return false;
  }
  out.emplace_back(line);
  return true;
}

}  // namespace mkani
