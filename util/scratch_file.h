// Scratch files in the current directory: the script before it replaces main.ani, and the
// sorted runs of a listing too large to hold in memory.
#ifndef MKANI_UTIL_SCRATCH_FILE_H_
#define MKANI_UTIL_SCRATCH_FILE_H_

#include <cstdint>
#include <string>
#include <utility>

namespace mkani {

struct ScratchFile;

// Closes the file when open and removes its name when it has one. Returns 0, or the platform's
// error code when the name could not be removed.
int removeScratchFile(ScratchFile* file);

// One scratch file, which it owns: the platform's descriptor or handle, open while it is not
// negative, and, when it has one, its name. It can be moved, not copied; it is closed and its
// name removed when it goes.
struct ScratchFile {
  static constexpr intptr_t kClosed = -1;

  ScratchFile() = default;
  ScratchFile(ScratchFile&& other) noexcept
      : handle(std::exchange(other.handle, kClosed)), name(std::exchange(other.name, {})) {}
  ScratchFile& operator=(ScratchFile&& other) noexcept {
    if (this != &other) {
      removeScratchFile(this);
      handle = std::exchange(other.handle, kClosed);
      name = std::exchange(other.name, {});
    }
    return *this;
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() { removeScratchFile(this); }

  // Returns true while the handle is open.
  bool isOpen() const { return handle >= 0; }

  intptr_t handle = kClosed;
  std::string name;  // "" while the file has no name
};

// Creates a new empty file in the current directory, open for reading and writing, that no
// picture listing shows and no other run of mkani can open: unnamed where the platform allows
// (Linux), else hidden under a name unique to this run. A `temporary` file never gets a name,
// or loses it at once (on Windows, when closed). A lasting one is created with mode 0644 less
// the umask. Returns false with the reason in *err, and the platform's code in errno (on
// Windows, GetLastError()).
bool createScratchFile(bool temporary, ScratchFile* file, std::string* err);

// Gives a lasting scratch file that has no name yet a hidden name of its own, so that it can
// be renamed; a file that has one keeps it. Returns false with the reason in *err.
bool nameScratchFile(ScratchFile* file, std::string* err);

// Forgets the name of `file`, which now names another file (the scratch file was renamed over
// it) or is to stay; a stop no longer removes it. Another file's pending name is left alone.
void releaseScratchName(ScratchFile* file);

// Removes the name of the lasting scratch file that this process is writing, if it has one.
// The one call here that is safe in a signal handler (on Windows, in another thread).
void removeScratchOnStop();

}  // namespace mkani

#endif  // MKANI_UTIL_SCRATCH_FILE_H_
