#include "script/output_file.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

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
  // The folder refuses a whole replacement: the old file is rewritten in place, once the new
  // script is whole in memory where it fits, so that stops are held for the rewrite alone.
  if (ok && openInPlace(err)) {
    readyScript();
    return true;
  }
  discard();
  return false;
}

void DiskOutputFile::readyScript() {
  if (size_ > kReadyMax) return;
  try {
    ready_.emplace();
    ready_->reserve(static_cast<size_t>(size_));
  } catch (const std::bad_alloc&) {
    ready_.reset();  // written as it comes, with stops held from the first byte
  }
}

bool DiskOutputFile::write(const char* data, size_t size, std::string* err) {
  if (ready_ && size <= ready_->capacity() - ready_->size()) {
    ready_->append(data, size);
    return true;
  }
  return writeReady(err) && writeThrough(data, size, err);  // more than room was made for
}

bool DiskOutputFile::writeReady(std::string* err) {
  if (!ready_) return true;
  const std::string bytes = std::move(*ready_);
  ready_.reset();
  // In pieces, as a copy in place goes: a disk may fill at any of them.
  for (size_t at = 0; at < bytes.size(); at += kCopyBuffer) {
    if (!writeThrough(bytes.data() + at, std::min(kCopyBuffer, bytes.size() - at), err))
      return false;
  }
  return true;
}

bool DiskOutputFile::writeThrough(const char* data, size_t size, std::string* err) {
  if (inPlace_ && !held_) {  // from the first byte in place until the file is whole
    holdStops();
    held_ = true;
  }
  if (!faulted(Step::kWrite, err) && writeAll(file_.handle, data, size, err)) return true;
  if (inPlace_) undoInPlace(err);
  return false;
}

bool DiskOutputFile::close(std::string* err) {
  if (inPlace_) return writeReady(err) && finishInPlace(err);
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
    ok = !faulted(Step::kReadScratch, err) &&
         readAt(source.handle, at, buffer.get(), kCopyBuffer, &got, err) &&
         writeThrough(buffer.get(), got, err);
  }
  if (ok) {
    ok = finishInPlace(err);
  } else if (inPlace_) {
    undoInPlace(err);  // the scratch file failed to be read half-way
  }
  // A copy that damaged the old script keeps the new one, named. Else the scratch file goes.
  const std::string name = source.name;
  int injected = -1;  // the file stays
  if (damaged_) {
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
  keepOld();
  return true;
}

void DiskOutputFile::keepOld() {
  if (created_) return;
  try {
    std::string bytes;
    size_t got = 1;
    std::string ignored;
    while (got > 0 && bytes.size() <= kKeptMax) {
      const size_t at = bytes.size();
      bytes.resize(at + kCopyBuffer);
      // A file open for writing alone cannot be read back: it is not kept.
      if (!readAt(file_.handle, at, &bytes[at], kCopyBuffer, &got, &ignored)) return;
      bytes.resize(at + got);
    }
    if (bytes.size() <= kKeptMax && seekStart()) oldBytes_ = std::move(bytes);
  } catch (const std::bad_alloc&) {
    // Too little memory to keep it: the rewrite goes on without.
  }
}

void DiskOutputFile::undoInPlace(std::string* err) {
  // A script that this run made goes; one that nothing was written to holds what it held.
  if (undone_ || created_ || !touched()) return;
  undone_ = true;
  std::string ignored;
  if (oldBytes_ && seekStart() &&
      writeAll(file_.handle, oldBytes_->data(), oldBytes_->size(), &ignored) && cutInPlace() == 0) {
    return;
  }
  damaged_ = true;
  *err += "; " + path_ + " is damaged";
}

bool DiskOutputFile::finishInPlace(std::string* err) {
  const int error = cutInPlace();
  if (error != 0) {
    *err = systemError(static_cast<unsigned>(error));
    undoInPlace(err);
  }
  const int closed = closeInPlace();
  if (held_) {
    held_ = false;
    releaseStops();
  }
  if (error != 0) return false;
  if (closed != 0) {
    // Every byte went out and the file was cut: what the system says at the close is all
    // that is known.
    *err = "closing it failed after the new script was written whole: " +
           systemError(static_cast<unsigned>(closed));
  }
  created_.reset();  // whole, or as whole as can be known: it stays
  return closed == 0;
}

bool DiskOutputFile::faulted(Step step, std::string* err) {
  const int error = fault(step);
  if (error != 0) *err = systemError(error);
  return error != 0;
}

void DiskOutputFile::discard() {
  // A rewrite in place given up half-way (the listing ran out of memory, say) is undone too.
  std::string ignored;
  ready_.reset();
  if (inPlace_ && file_.handle != ScratchFile::kClosed) undoInPlace(&ignored);
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
