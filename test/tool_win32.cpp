#include <windows.h>

#include <filesystem>
#include <mutex>

#include "test/test_util.h"
#include "util/platform.h"

namespace mkani {

const char kLineEnd[] = "\r\n";
const int kAccessDenied = ERROR_ACCESS_DENIED;

namespace {

// Returns an inheritable handle that writes `path` from its start, or INVALID_HANDLE_VALUE.
HANDLE inheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string runTool(const std::string& args) {
  // The process is started itself, not through cmd: two threads may each start one at once.
  const std::wstring out = (std::filesystem::temp_directory_path() / "mkani-out-").wstring() +
                           std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(GetCurrentThreadId()) + L".";
  // One start at a time: a child inherits every inheritable handle open as it starts.
  static std::mutex starting;
  std::unique_lock<std::mutex> startingOne(starting);
  HANDLE streams[] = {inheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING),
                      inheritableFile(out + L"1", GENERIC_WRITE, CREATE_ALWAYS),
                      inheritableFile(out + L"2", GENERIC_WRITE, CREATE_ALWAYS)};
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = streams[0];
  startup.hStdOutput = streams[1];
  startup.hStdError = streams[2];
  std::wstring line = L"\"" + wideFromUtf8(MKANI_EXE) + L"\" " + wideFromUtf8(args);
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  for (HANDLE stream : streams) CloseHandle(stream);
  startingOne.unlock();
  DWORD status = 0xffffffff;
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  const std::filesystem::path outPath(out);
  const std::string run = std::to_string(status) + "|" + readFile(outPath.string() + "1") + "|" +
                          readFile(outPath.string() + "2");
  std::error_code ignored;
  for (const wchar_t* stream : {L"1", L"2"}) std::filesystem::remove(out + stream, ignored);
  return run;
}

}  // namespace mkani
