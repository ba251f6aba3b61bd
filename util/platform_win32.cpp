#include <windows.h>

#include "util/platform.h"

namespace mkani {

std::string systemError(unsigned long code) {
  wchar_t text[512];
  DWORD size = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              code, 0, text, sizeof text / sizeof *text, nullptr);
  while (size > 0 && (text[size - 1] == L'\r' || text[size - 1] == L'\n' ||
                      text[size - 1] == L' ' || text[size - 1] == L'.')) {
    --size;
  }
  const int room = size > 0 ? WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr,
                                                  0, nullptr, nullptr)
                            : 0;
  if (room <= 0) return "error " + std::to_string(code);
  std::string utf8(static_cast<size_t>(room), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), &utf8[0], room, nullptr, nullptr);
  return utf8;
}

std::wstring wideFromUtf8(std::string_view text) {
  if (text.empty()) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int room = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(room > 0 ? room : 0), L'\0');
  if (room > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], room);
  return wide;
}

std::wstring wholePath(const std::string& name) {
  const std::wstring relative(name.begin(), name.end());  // mkani's own names are ASCII
  std::wstring whole(MAX_PATH, L'\0');
  DWORD size =
      GetFullPathNameW(relative.c_str(), static_cast<DWORD>(whole.size()), &whole[0], nullptr);
  if (size >= whole.size()) {  // the size wanted, with its NUL
    whole.resize(size);
    size = GetFullPathNameW(relative.c_str(), size, &whole[0], nullptr);
  }
  whole.resize(size < whole.size() ? size : 0);
  if (whole.size() < MAX_PATH || whole.compare(0, 4, L"\\\\?\\") == 0) return whole;
  // \\server\share\... becomes \\?\UNC\server\share\...
  return whole.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC" + whole.substr(1) : L"\\\\?\\" + whole;
}

unsigned long lastError() {
  return GetLastError();
}

int closeHandle(intptr_t handle) {
  return CloseHandle(reinterpret_cast<HANDLE>(handle)) ? 0 : static_cast<int>(GetLastError());
}

int removeFile(const std::string& name) {
  return DeleteFileW(wholePath(name).c_str()) ? 0 : static_cast<int>(GetLastError());
}

bool writeAll(intptr_t handle, const char* data, size_t size, std::string* err) {
  while (size > 0) {
    const DWORD chunk = size > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(size);
    DWORD done = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(handle), data, chunk, &done, nullptr)) {
      const DWORD error = GetLastError();
      *err = systemError(error);
      SetLastError(error);
      return false;
    }
    if (done == 0) {  // nothing more was taken: the file has no room
      SetLastError(ERROR_HANDLE_DISK_FULL);
      *err = systemError(ERROR_HANDLE_DISK_FULL);
      return false;
    }
    data += done;
    size -= done;
  }
  return true;
}

bool readAt(intptr_t handle, uint64_t offset, char* data, size_t size, size_t* got,
            std::string* err) {
  *got = 0;
  while (*got < size) {
    const uint64_t at = offset + *got;
    OVERLAPPED where = {};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    const size_t left = size - *got;
    const DWORD chunk = left > (DWORD{1} << 30) ? (DWORD{1} << 30) : static_cast<DWORD>(left);
    DWORD done = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle), data + *got, chunk, &done, &where)) {
      const DWORD error = GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      *err = systemError(error);
      SetLastError(error);
      return false;
    }
    if (done == 0) break;
    *got += done;
  }
  return true;
}

}  // namespace mkani
