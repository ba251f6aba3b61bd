#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "util/platform.h"
#include "util/scratch_file.h"
#include "util/stops.h"

namespace mkani {
namespace {

const int kNameAttempts = 1000;

// The name of the scratch file named last, for a signal handler, while it is pending.
char pendingName[64];
volatile std::sig_atomic_t pending = 0;

// Gives `file` the first free hidden name of this process (its id and a number, so that no other
// process uses it now; a file left by an earlier run that had the same id is stepped over, never
// touched) under which `make` creates or links it: `make` returns 0, or errno. Stops are held
// from the call that makes the name on, so that a stop handler knows it. Returns false with the
// reason in *err and errno.
template <typename Make>
bool claimName(ScratchFile* file, Make make, std::string* err) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    char name[sizeof pendingName];
    std::snprintf(name, sizeof name, ".mkani-%ld-%d.tmp", static_cast<long>(getpid()), attempt);
    holdStops();
    const int error = make(name);
    if (error == 0) {
      file->name = name;
      std::memcpy(pendingName, name, sizeof name);
      pending = 1;
    }
    releaseStops();
    if (error != EEXIST) {
      if (error != 0) *err = systemError(errno = error);
      return error == 0;
    }
  }
  *err = systemError(errno = EEXIST);
  return false;
}

bool createNamed(bool temporary, ScratchFile* file, std::string* err) {
  const bool made = claimName(
      file,
      [file](const char* name) {
        file->handle = ::open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        return file->handle < 0 ? errno : 0;
      },
      err);
  // A temporary file loses its name at once; one that cannot keeps it, removed at the end.
  if (made && temporary && ::unlink(file->name.c_str()) == 0) releaseScratchName(file);
  return made;
}

// The path through which an unnamed file can be linked in without privileges.
std::string procPath(intptr_t fd) {
  return "/proc/self/fd/" + std::to_string(fd);
}

#if defined(O_TMPFILE)
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
  if (!file->name.empty()) return true;  // where there are no unnamed files, always
  const std::string from = procPath(file->handle);
  return claimName(
      file,
      [&from](const char* name) {
        return linkat(AT_FDCWD, from.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
      },
      err);
}

int removeScratchFile(ScratchFile* file) {
  if (file->isOpen()) ::close(static_cast<int>(file->handle));
  file->handle = ScratchFile::kClosed;
  if (file->name.empty()) return 0;  // nothing to remove, and another file's name stays pending
  holdStops();
  const int error = ::unlink(file->name.c_str()) != 0 ? errno : 0;
  releaseScratchName(file);
  releaseStops();
  return error;
}

void releaseScratchName(ScratchFile* file) {
  if (file->name == pendingName) pending = 0;
  file->name.clear();
}

void removeScratchOnStop() {
  if (pending) ::unlink(pendingName);
}

}  // namespace mkani
