#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "test/test_util.h"

namespace mkani {

const char kLineEnd[] = "\n";
const int kAccessDenied = EACCES;

std::string runTool(const std::string& args) {
  return runToolAfter(":", false, args);
}

std::string runToolAfter(const std::string& setup, bool unprivileged, const std::string& args) {
  const std::string out =
      std::filesystem::temp_directory_path() / ("mkani-out-" + std::to_string(getpid()) + ".");
  const std::string user =
      unprivileged && geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --groups=100 " : "";
  const std::string command = setup + "; exec " + user + MKANI_EXE " " + args;
  const int status =
      std::system(("sh -c '" + command + "' >" + out + "1 2>" + out + "2 </dev/null").c_str());
  const std::string run = std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "|" +
                          readFile(out + "1") + "|" + readFile(out + "2");
  std::system(("rm -f " + out + "1 " + out + "2").c_str());
  return run;
}

}  // namespace mkani
