// Small platform helpers that the modules share.
#ifndef MKANI_UTIL_PLATFORM_H_
#define MKANI_UTIL_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mkani {

// Returns the system's text for `code`, an errno value on POSIX and a GetLastError() value on
// Windows (in UTF-8 there, whatever the code pages), with no trailing period or line end:
// "Permission denied".
std::string systemError(unsigned long code);

// Returns the platform's code for the last call that failed: errno on POSIX, GetLastError() on
// Windows.
unsigned long lastError();

// Closes the file `handle`, a file descriptor on POSIX and a HANDLE on Windows. Returns 0 or the
// platform's error code; the handle is closed either way.
int closeHandle(intptr_t handle);

// Removes the file `name`, a path relative to the current directory. Returns 0 or the
// platform's error code.
int removeFile(const std::string& name);

// Windows only: a file held open by another program (a scanner, an indexer, another run) is
// tried again this many times, this many milliseconds apart: about a second.
constexpr int kRetries = 20;
constexpr unsigned long kRetryPause = 50;

// Writes all `size` bytes at `data` to `handle`, a file descriptor on POSIX and a HANDLE on
// Windows, however many calls that takes. Returns false with the reason in *err and the
// platform's code in lastError().
bool writeAll(intptr_t handle, const char* data, size_t size, std::string* err);

// Reads up to `size` bytes at byte `offset` of the file `handle` into `data`; *got may be less
// than `size`, and is 0 only at the end of the file. Returns false with the reason in *err and
// the platform's code in lastError().
bool readAt(intptr_t handle, uint64_t offset, char* data, size_t size, size_t* got,
            std::string* err);

// Windows only: returns the whole path of `name`, a path relative to the current directory, in
// UTF-16, with the "\\?\" prefix where it passes MAX_PATH, so that the wide calls reach it
// wherever the current directory is.
std::wstring wholePath(const std::string& name);

// Windows only: returns the UTF-8 `text` in UTF-16, for the console; bytes that are no UTF-8
// come out as U+FFFD.
std::wstring wideFromUtf8(std::string_view text);

}  // namespace mkani

#endif  // MKANI_UTIL_PLATFORM_H_
