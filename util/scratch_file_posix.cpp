#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "util/platform.h"
#include "util/scratch_file.h"
#include "util/stops.h"

namespace mkani {
namespace {

// A hidden name that no other process uses now: this process's id and a serial number. A file
// left by an earlier run that had the same id is stepped over, never touched.
std::string scratchName() {
  static unsigned serial = 0;
  return ".mkani-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + ".tmp";
}

const int kNameAttempts = 1000;

// The lasting scratch file's name, for a signal handler: set whole before it is marked pending.
char pendingName[64];
volatile std::sig_atomic_t pending = 0;

// Gives `file` the name `name`, and a stop signal the name to remove. Called with stops held, from
// the call that makes the name on disk on.
void track(ScratchFile* file, const std::string& name) {
  file->name = name;
  pending = 0;
  pendingName[name.copy(pendingName, sizeof pendingName - 1)] = '\0';
  pending = 1;
}

bool createNamed(bool temporary, ScratchFile* file, std::string* err) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = scratchName();
    holdStops();
    const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const int error = errno;
    if (fd != -1) {
      file->handle = fd;
      if (!temporary) {
        track(file, name);
      } else if (::unlink(name.c_str()) != 0) {
        file->name = name;  // a temporary file that cannot lose its name: removed at the end
      }
    }
    releaseStops();
    if (fd != -1) return true;
    if (error != EEXIST) {
      *err = systemError(errno = error);
      return false;
    }
  }
  *err = systemError(EEXIST);
  return false;
}

#if defined(O_TMPFILE)
// The path through which an unnamed file can be linked in without privileges.
std::string procPath(intptr_t fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

// Returns true when the unnamed file `fd` can be given a name later: /proc is there.
bool linkable(int fd) {
  return access(procPath(fd).c_str(), F_OK) == 0;
}
#endif

}  // namespace

bool createScratchFile(bool temporary, ScratchFile* file, std::string* err) {
#if defined(O_TMPFILE)
  const int fd = ::open(".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
  if (fd != -1) {
    if (temporary || linkable(fd)) {
      file->handle = fd;
      return true;
    }
    ::close(fd);
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    *err = systemError(errno);  // not a file system without unnamed files: a real failure
    return false;
  }
#endif
  return createNamed(temporary, file, err);
}

bool nameScratchFile(ScratchFile* file, std::string* err) {
#if defined(O_TMPFILE)
  for (int attempt = 0; file->name.empty() && attempt < kNameAttempts; ++attempt) {
    std::string name = scratchName();
    holdStops();
    const int linked =
        linkat(AT_FDCWD, procPath(file->handle).c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
    const int error = errno;
    if (linked == 0) track(file, name);
    releaseStops();
    if (linked != 0 && error != EEXIST) {
      *err = systemError(error);
      return false;
    }
  }
#endif
  if (file->name.empty()) *err = systemError(EEXIST);
  return !file->name.empty();
}

int removeScratchFile(ScratchFile* file) {
  if (file->handle != ScratchFile::kClosed) ::close(static_cast<int>(file->handle));
  file->handle = ScratchFile::kClosed;
  holdStops();
  const int error = !file->name.empty() && ::unlink(file->name.c_str()) != 0 ? errno : 0;
  releaseScratchName(file);
  releaseStops();
  return error;
}

void releaseScratchName(ScratchFile* file) {
  pending = 0;
  file->name.clear();
}

void removeScratchOnStop() {
  if (pending) ::unlink(pendingName);
}

}  // namespace mkani
