#include <windows.h>

#include <filesystem>

#include "test/test_util.h"

namespace mkani {

const char kLineEnd[] = "\r\n";

ToolRun runTool(const std::string& args) {
  const std::string out[2] = {(std::filesystem::temp_directory_path() / "mkani-out.1").string(),
                              (std::filesystem::temp_directory_path() / "mkani-out.2").string()};
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE capture[2];
  for (int i = 0; i < 2; ++i) {
    capture[i] = CreateFileA(out[i].c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = capture[0];
  startup.hStdError = capture[1];
  std::string command = "\"" MKANI_EXE "\" " + args;
  PROCESS_INFORMATION process = {};
  DWORD status = static_cast<DWORD>(-1);
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  ToolRun run{static_cast<int>(status), "", ""};
  for (int i = 0; i < 2; ++i) {
    CloseHandle(capture[i]);
    (i == 0 ? run.out : run.err) = readFile(out[i]);
    DeleteFileA(out[i].c_str());
  }
  return run;
}

}  // namespace mkani
