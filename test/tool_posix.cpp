#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "test/test_util.h"

namespace mkani {
namespace {

ToolRun runShell(const std::string& setup, const std::string& args, bool unprivileged) {
  const std::string out =
      std::filesystem::temp_directory_path() / ("mkani-out-" + std::to_string(getpid()));
  const std::string user =
      unprivileged && geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  const std::string command =
      (setup.empty() ? "" : setup + "; ") + "exec " + user + MKANI_EXE " " + args;
  const int status =
      std::system(("sh -c '" + command + "' >" + out + ".1 2>" + out + ".2 </dev/null").c_str());
  ToolRun run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out + ".1"),
              readFile(out + ".2")};
  std::filesystem::remove(out + ".1");
  std::filesystem::remove(out + ".2");
  return run;
}

}  // namespace

const char kLineEnd[] = "\n";

ToolRun runTool(const std::string& args) {
  return runShell("", args, false);
}

ToolRun runToolAfter(const std::string& setup, bool unprivileged) {
  return runShell(setup, "", unprivileged);
}

}  // namespace mkani
