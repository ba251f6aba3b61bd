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
  if (!examine(err)) {
    discard();
    return false;
  }
  // Where the folder refuses a whole replacement, the old file is rewritten in place, once the
  // new script is whole in memory where it fits, so that stops are held for the rewrite alone.
  bool refused = renameRefused_;
  if (!refused && openWhole(&refused, err)) return true;
  if (refused && openInPlace(err)) {
    readyScript();
    return true;
  }
  discard();
  return false;
}

bool DiskOutputFile::openWhole(bool* refused, std::string* err) {
  int error = attempt(Step::kCreate, [this] {
    std::string ignored;  // said from the code below
    return createScratchFile(false, &file_, &ignored) ? 0 : static_cast<int>(lastError());
  });
  if (error == 0) error = makeRoomIn(file_.handle);
  // A whole replacement gives way to a rewrite in place, which needs none of this, where the
  // folder refuses a new file or its room, or what the old file had cannot be given to it.
  *refused = error != 0 ? refusedHere(error) : carryOver() != 0;
  if (error != 0) *err = describe(error);
  if (error == 0 && !*refused) return true;
  removeScratchFile(&file_);
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
  const int error = attempt(Step::kWrite, [&] {
    return writeAll(file_.handle, data, size, err) ? 0 : static_cast<int>(lastError());
  });
  if (error == 0) return true;
  *err = describe(error);
  if (inPlace_) undoInPlace(err);
  return false;
}

bool DiskOutputFile::close(std::string* err) {
  if (inPlace_) return writeReady(err) && finishInPlace(err);
  bool refused = false;
  if (closeScratch(err) && replaceWhole(&refused, err)) {
    closeOld();
    return true;
  }
  // The rename is refused (a sticky folder, a script mounted on its own, ...): the new script
  // goes into the old file in place.
  return refused && copyInPlace(err);  // else discard() closes what is open
}

bool DiskOutputFile::closeScratch(std::string* err) {
  // Writing clears the set-user-ID bit: it is given back, as this process gave it before. An
  // unnamed file is named first: closing it would be the end of it.
  restoreMode(file_.handle);
  int error = attempt(Step::kName, [this] {
    std::string ignored;  // said from the code below
    return nameScratchFile(&file_, &ignored) ? 0 : static_cast<int>(lastError());
  });
  if (error == 0) error = closeFile();
  if (error != 0) *err = describe(error);
  return error == 0;
}

bool DiskOutputFile::replaceWhole(bool* refused, std::string* err) {
  // Where the rename moves the old script away and then cannot move the new one in (Windows'
  // ReplaceFileW, error 1177), the old one stays under the scratch file's name with another
  // ending.
  const std::string copy = file_.name.substr(0, file_.name.rfind('.')) + ".old";
  removeFile(copy);  // one left by an earlier run with this run's number
  const bool hadOld = exists(path_);
  // Once a rename has failed half-way the scratch file may hold the only script: a stop must
  // not remove it, so stops wait for the renames.
  holdStops();
  int error = replace(copy);
  ScratchFile old;  // the old script's copy, where the rename left one
  if (exists(copy)) old.name = copy;
  const bool kept = !old.name.empty();
  if (error == 0) {
    releaseScratchName(&file_);
    if (kept) error = attempt(Step::kRemove, [&old] { return removeScratchFile(&old); });
    if (error != 0) {
      *err = "the new script is in place, but the old one's copy " + copy +
             " cannot be removed: " + systemError(static_cast<unsigned>(error));
    }
  } else if (hadOld && !exists(path_)) {
    *err = describe(error) + "; the new script is kept in " + file_.name;
    if (kept) *err += " and the old one in " + copy;
    releaseScratchName(&file_);
  } else {
    *err = describe(error);
    *refused = true;  // the old file is whole: only its name was refused
  }
  old.name.clear();  // what is left of it stays, named in the message
  releaseStops();
  return error == 0;
}

bool DiskOutputFile::copyInPlace(std::string* err) {
  ScratchFile source = std::move(file_);
  int error = attempt(Step::kReopen, [&] { return reopen(&source); });
  if (error != 0) *err = describe(error);
  bool ok = error == 0 && openInPlace(err);
  std::unique_ptr<char[]> buffer(new char[kCopyBuffer]);
  size_t got = 1;
  for (uint64_t at = 0; ok && got > 0; at += got) {
    error = attempt(Step::kReadScratch, [&] {
      std::string ignored;  // said from the code below
      return readAt(source.handle, at, buffer.get(), kCopyBuffer, &got, &ignored)
                 ? 0
                 : static_cast<int>(lastError());
    });
    if (error != 0) *err = describe(error);  // undone below
    ok = error == 0 && writeThrough(buffer.get(), got, err);
  }
  if (ok) {
    ok = finishInPlace(err);
  } else if (inPlace_) {
    undoInPlace(err);  // the scratch file failed to be read half-way
  }
  // A copy that damaged the old script keeps the new one, named. Else the scratch file goes.
  const std::string name = source.name;
  if (damaged_) {
    *err += "; the new script is kept in " + name;
    releaseScratchName(&source);
    return false;
  }
  error = attempt(Step::kRemove, [&source] { return removeScratchFile(&source); });
  if (error != 0) releaseScratchName(&source);  // it stays, named in the message
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
  const int error = attempt(Step::kRoom, [this] { return makeRoomIn(file_.handle); });
  if (error != 0) {
    *err = describe(error);
    return false;
  }
  keepOld();
  return true;
}

bool DiskOutputFile::openRewrite(std::string* err) {
  int error = openOld();
  if (error == 0 && !file_.isOpen()) {
    // The first script, unless one came meanwhile. Room is checked before it is made: in a
    // folder that keeps every name, it stays.
    error = roomInFolder();
    if (error == 0) error = createNew(&created_);
  }
  if (error != 0) *err = describe(error);
  return error == 0;
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
      writeAll(file_.handle, oldBytes_->data(), oldBytes_->size(), &ignored) && cut() == 0) {
    restoreMode(file_.handle);
    return;
  }
  damaged_ = true;
  *err += "; " + path_ + " is damaged";
}

bool DiskOutputFile::finishInPlace(std::string* err) {
  const int error = attempt(Step::kCut, [this] { return cut(); });
  restoreMode(file_.handle);
  if (error != 0) {
    *err = describe(error);
    undoInPlace(err);
  }
  const int closed = closeFile();
  releaseHeld();
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

int DiskOutputFile::closeFile() {
  // The handle goes whatever a test says; its fault stands for what the close reports.
  const int closed = closeHandle(std::exchange(file_.handle, ScratchFile::kClosed));
  return attempt(Step::kClose, [closed] { return closed; });
}

void DiskOutputFile::releaseHeld() {
  if (!held_) return;
  held_ = false;
  releaseStops();
}

void DiskOutputFile::discard() {
  // A rewrite in place given up half-way (the listing ran out of memory, say) is undone too.
  std::string ignored;
  ready_.reset();
  if (inPlace_ && file_.isOpen()) undoInPlace(&ignored);
  releaseHeld();
  removeScratchFile(&file_);
  closeOld();
  // Removed once: a later file under that name may take its number.
  if (const std::optional<FileId> made = std::exchange(created_, std::nullopt))
    removeCreated(*made);
}

}  // namespace mkani
