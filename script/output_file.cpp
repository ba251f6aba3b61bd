#include "script/output_file.h"

#include <memory>

#include "util/platform.h"
#include "util/stops.h"

namespace mkani {
namespace {

// The scratch file is copied into place through a buffer of this size.
const size_t kCopyBuffer = size_t{64} << 10;

}  // namespace

DiskOutputFile::~DiskOutputFile() {
  discard();
}

bool DiskOutputFile::open(const char* path, uint64_t size, std::string* err) {
  path_ = path;
  size_ = size;
  bool ok = examine(err);
  if (ok && !renameRefused_) {
    const Outcome created = createScratch(err);
    if (created == Outcome::kDone && carryOver()) return true;
    ok = created != Outcome::kFailed;
    removeScratchFile(&file_);
  }
  // The folder refuses a whole replacement: the old file is rewritten in place.
  if (ok && openInPlace(err)) return true;
  discard();
  return false;
}

bool DiskOutputFile::write(const char* data, size_t size, std::string* err) {
  if (faulted(Step::kWrite, err)) return false;
  return writeAll(file_.handle, data, size, err);
}

bool DiskOutputFile::close(std::string* err) {
  if (inPlace_) {
    if (!closeInPlace(err)) return false;
    created_.reset();  // whole now: it stays
    return true;
  }
  if (!closeScratch(err)) return false;
  const Outcome renamed = rename(err);
  if (renamed != Outcome::kRefused) {
    closeOld();
    return renamed == Outcome::kDone;
  }
  // The rename is refused (a sticky folder, a script mounted on its own, ...): the new script
  // goes into the old file in place.
  return copyInPlace(err);
}

bool DiskOutputFile::copyInPlace(std::string* err) {
  ScratchFile source = file_;
  file_ = ScratchFile();
  bool ok = reopenScratch(&source, err) && openInPlace(err);
  std::unique_ptr<char[]> buffer(new char[kCopyBuffer]);
  size_t got = 1;
  for (uint64_t at = 0; ok && got > 0; at += got) {
    ok = readAt(source.handle, at, buffer.get(), kCopyBuffer, &got, err) &&
         write(buffer.get(), got, err);
  }
  // A copy cut short after its first byte has damaged the old script: the new one stays, named.
  // Else the scratch file goes.
  const bool damaged = (ok && !closeInPlace(err)) || (!ok && inPlace_ && touched());
  ok = ok && !damaged;
  if (ok) created_.reset();
  const std::string name = source.name;
  int injected = -1;  // the file stays
  if (damaged) {
    *err += "; the new script is kept in " + name;
  } else {
    injected = fault(Step::kRemove);
  }
  if (injected != 0) releaseScratchName(&source);
  const int removed = removeScratchFile(&source);
  const int error = injected != 0 ? injected : removed;
  if (ok && error != 0) {
    *err = "the new script was written in place, but its scratch file " + name +
           " cannot be removed: " + systemError(static_cast<unsigned>(error));
    ok = false;
  }
  return ok;
}

bool DiskOutputFile::openInPlace(std::string* err) {
  if (!openRewrite(err)) return false;
  inPlace_ = true;
  // Two runs rewriting one script in place would mix their bytes: the second waits.
  if (!lockRewrite(false)) {
    if (notice_) notice_("waiting for another run to finish writing " + path_);
    lockRewrite(true);
  }
  if (const int error = roomInPlace()) {
    *err = systemError(static_cast<unsigned>(error));
    return false;
  }
  holdStops();
  held_ = true;
  return true;
}

bool DiskOutputFile::faulted(Step step, std::string* err) {
  const int error = fault(step);
  if (error != 0) *err = systemError(error);
  return error != 0;
}

void DiskOutputFile::discard() {
  if (held_) {
    held_ = false;
    releaseStops();
  }
  removeScratchFile(&file_);
  closeOld();
  if (created_) removeCreated();
  created_.reset();
}

}  // namespace mkani
