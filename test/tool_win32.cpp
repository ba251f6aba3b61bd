#include <windows.h>

#include <cstdlib>
#include <filesystem>

#include "test/test_util.h"

namespace mkani {

const char kLineEnd[] = "\r\n";
const int kAccessDenied = ERROR_ACCESS_DENIED;

std::string runTool(const std::string& args) {
  const std::string out = (std::filesystem::temp_directory_path() / "mkani-out-").string() +
                          std::to_string(GetCurrentProcessId()) + "-" +
                          std::to_string(GetCurrentThreadId()) + ".";
  // cmd takes the whole line in one more pair of quotes.
  const int status = std::system(
      ("\"\"" MKANI_EXE "\" " + args + " >\"" + out + "1\" 2>\"" + out + "2\" <NUL\"").c_str());
  const std::string run =
      std::to_string(status) + "|" + readFile(out + "1") + "|" + readFile(out + "2");
  for (const char* stream : {"1", "2"}) std::filesystem::remove(out + stream);
  return run;
}

}  // namespace mkani
