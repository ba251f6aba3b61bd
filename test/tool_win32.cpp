#include <windows.h>

#include <filesystem>

#include "test/test_util.h"

namespace mkani {
namespace {

HANDLE createCapture(const std::string& path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

const char kLineEnd[] = "\r\n";

ToolRun runTool(const std::string& args) {
  const std::string out = (std::filesystem::temp_directory_path() /
                           ("mkani-out-" + std::to_string(GetCurrentProcessId())))
                              .string();
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = createCapture(out + ".1");
  startup.hStdError = createCapture(out + ".2");
  std::string command = "\"" MKANI_EXE "\" " + args;
  PROCESS_INFORMATION process = {};
  ToolRun run{-1, "", ""};
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process)) {
    DWORD status = 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    run.status = static_cast<int>(status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(startup.hStdOutput);
  CloseHandle(startup.hStdError);
  run.out = readFile(out + ".1");
  run.err = readFile(out + ".2");
  DeleteFileA((out + ".1").c_str());
  DeleteFileA((out + ".2").c_str());
  return run;
}

}  // namespace mkani
