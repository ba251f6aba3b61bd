// Where the script goes: a new file that takes the place of the old one, whole where the folder
// allows it, else rewritten in place.
#ifndef MKANI_SCRIPT_OUTPUT_FILE_H_
#define MKANI_SCRIPT_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "util/scratch_file.h"

namespace mkani {

class OutputFile {
 public:
  virtual ~OutputFile() = default;

  // Opens a new file that is to take the place of `path`, with room made for `size` bytes, at
  // least what will be written. Refuses, before anything is created, a `path` that is a symbolic
  // link, a directory, not a regular file, or not writable. Returns false with the reason in *err.
  virtual bool open(const char* path, uint64_t size, std::string* err) = 0;

  // Writes all `size` bytes at `data`. Returns false with the reason in *err.
  virtual bool write(const char* data, size_t size, std::string* err) = 0;

  // Closes the new file and puts it in the place of `path`. Returns false with the reason in
  // *err, as the platform may give for writes it had delayed; `path` then keeps what it held,
  // unless *err says otherwise.
  virtual bool close(std::string* err) = 0;

  // Gives up on a file not yet in place: closes it and removes what the run made.
  virtual void discard() = 0;

  // Returns true when a failed write or close left `path` holding neither the old script nor
  // the new one.
  virtual bool damaged() const { return false; }

  // Returns true when, once open, the file takes no more than the size given to `open` (a
  // rewrite in place, whose room was made for that).
  virtual bool fixedSize() const { return false; }
};

// Windows: returns true when a file with the reparse tag `reparseTag` stands for another one (a
// symbolic link, a junction), which a script must not be written through.
bool namesAnotherFile(unsigned long reparseTag);

// Windows: asks the system to allocate `size` bytes for the open file `handle`. Returns 0 or
// the error.
using Allocate = unsigned long (*)(intptr_t handle, uint64_t size);

// Windows: makes room for `size` bytes in the open file `handle` without changing what it holds:
// allocated through `allocate` where the system and the volume allow (Vista and later, NTFS),
// else checked against the free space. Returns 0, ERROR_DISK_FULL (or ERROR_HANDLE_DISK_FULL)
// where there is no room; 0 too where that cannot be known.
unsigned long makeRoom(intptr_t handle, uint64_t size, Allocate allocate);

// The file on disk. The new file is a scratch file beside `path`, given what the old one had
// (on POSIX owner, group, permission bits, access list and other extended attributes; on Windows
// ReplaceFileW gives it the attributes, streams and access list, not the owner or audit list),
// then renamed over it. Where the folder refuses any of that for a reason that writing `path` does
// not share (no new file allowed, no inode or room for a second copy, an owner, access list or
// other attribute that cannot be given, a rename refused, a folder that keeps every name it holds,
// or may), `path` itself is rewritten in place instead, as far as room is made for it first, locked
// against other runs rewriting it, with stop requests held back until it is whole. A `path`
// that a failed run created is removed again.
class DiskOutputFile : public OutputFile {
 public:
  // The platform calls that a test can have fail.
  enum class Step {
    kCreate,
    kOwner,
    kMode,
    kAccessList,
    kListAttributes,
    kReadAttribute,
    kWriteAttribute,
    kFolderFlags,
    kOpenOld,
    kReparseTag,  // Windows: a test's fault is the reparse tag the old file is taken to carry
    kWrite,
    kClose,
    kName,
    kRename,
    kReopen,
    kReadScratch,
    kRoom,
    kLock,
    kCut,
    kRemove
  };

  // `notice` is given a line for the user while the file waits for another run, if it must.
  explicit DiskOutputFile(std::function<void(const std::string&)> notice = {})
      : notice_(std::move(notice)) {}
  ~DiskOutputFile() override;  // discards a file not yet in place
  DiskOutputFile(const DiskOutputFile&) = delete;
  DiskOutputFile& operator=(const DiskOutputFile&) = delete;

  bool open(const char* path, uint64_t size, std::string* err) override;
  bool write(const char* data, size_t size, std::string* err) override;
  bool close(std::string* err) override;
  void discard() override;

  bool damaged() const override { return damaged_; }
  bool fixedSize() const override { return inPlace_; }

  // Returns true when `path` is, or was, rewritten in place rather than replaced whole.
  bool inPlace() const { return inPlace_; }

  // An old script up to this size is kept in memory while it is rewritten in place, and put
  // back when the rewrite fails.
  static constexpr size_t kKeptMax = size_t{4} << 20;

  // A new script up to this size is made whole in memory before it is written in place, so
  // that the old one is rewritten, and stops held, only once every name is ready.
  static constexpr uint64_t kReadyMax = uint64_t{256} << 20;

 protected:
  // Returns 0, or the platform's error code (errno, GetLastError()) that the call at `step` is
  // to fail with instead of being made.
  virtual int fault(Step /*step*/) { return 0; }

 private:
  enum class Outcome { kDone, kRefused, kFailed };  // kRefused: in place may work

  // The platform's steps, each with the reason in *err when it returns false or kFailed.
  // Refuses what cannot be written at all; opens the old file, notes its mode and whether a
  // rename over it is bound to fail.
  bool examine(std::string* err);
  // Creates the scratch file with room for size_ bytes.
  Outcome createScratch(std::string* err);
  // Gives the scratch file what the old one had. Returns false when it cannot.
  bool carryOver();
  // Closes the written scratch file, with a name and the old file's mode.
  bool closeScratch(std::string* err);
  // Renames the closed scratch file over `path`; kFailed when `path` was lost on the way and the
  // scratch file, which keeps its name, holds the only script.
  Outcome rename(std::string* err);
  // Opens the closed scratch file `file` again, for reading.
  bool reopenScratch(ScratchFile* file, std::string* err);
  // Opens `path` for rewriting in place, locked and with room for size_ bytes.
  bool openInPlace(std::string* err);
  // Opens the old file for writing, or creates `path` (noting created_) when there is none and
  // the folder has room for size_ bytes.
  bool openRewrite(std::string* err);
  // Locks the file open in place against other runs' rewrites, waiting for one when `wait`.
  // Returns false only when another run holds it and `wait` is false; where the file system
  // keeps no locks, true.
  bool lockRewrite(bool wait);
  // Returns 0, or the error code of a file size limit or a disk too small for size_ bytes in
  // the file open in place.
  int roomInPlace();
  // Returns true when the file open in place may no longer hold what it held: a byte was
  // written, or that cannot be told.
  bool touched();
  // Removes `path` when it is still the file that this run created.
  void removeCreated();
  // Cuts the file open in place where writing ended, and gives it back the permission bits that
  // writing cleared. Returns 0 or the error code.
  int cutInPlace();
  // Closes the file open in place. Returns 0 or the error code.
  int closeInPlace();
  // Moves the file open in place back to its start. Returns false when it cannot.
  bool seekStart();

  // Sets ready_ up to hold the whole new script when it fits kReadyMax and memory.
  void readyScript();
  // Writes what ready_ holds, if anything, and stops holding it. Returns false with the reason
  // in *err.
  bool writeReady(std::string* err);
  // Writes `size` bytes at `data` into the file, holding stops from the first byte in place.
  // Returns false with the reason in *err, having undone a rewrite in place.
  bool writeThrough(const char* data, size_t size, std::string* err);
  // Returns true, with the reason in *err, when the call at `step` is to fail.
  bool faulted(Step step, std::string* err);
  // Rewrites `path` in place with the bytes of the scratch file. Returns false with the reason
  // in *err.
  bool copyInPlace(std::string* err);
  // Keeps the old bytes of the file open in place in oldBytes_ where they fit kKeptMax.
  void keepOld();
  // After a failed rewrite in place: puts the old bytes back, or else notes and adds to *err
  // that `path` is damaged.
  void undoInPlace(std::string* err);
  // Cuts and closes the file rewritten in place. Returns false with the reason in *err.
  bool finishInPlace(std::string* err);
  // Closes the old file when it is open.
  void closeOld();

  std::string path_;
  uint64_t size_;                        // room to make: set by open
  ScratchFile file_;                     // the new file: a scratch file, or `path` itself in place
  intptr_t old_ = ScratchFile::kClosed;  // the old file, open for writing
  // What the old file had, when there was one: permission bits, and owner and group where the
  // platform has them.
  struct Kept {
    int mode;
    unsigned owner, group;
  };
  std::optional<Kept> kept_;
  std::function<void(const std::string&)> notice_;
  // The volume and file number of a `path` that this run created, until it is whole.
  struct FileId {
    uint64_t volume, index;
  };
  std::optional<FileId> created_;
  std::optional<std::string> oldBytes_;  // what the file rewritten in place held, when kept
  std::optional<std::string> ready_;     // the new script, while it is made whole in memory
  bool renameRefused_ = false;           // known at open: no scratch file could take its place
  bool inPlace_ = false;
  bool damaged_ = false;
  bool undone_ = false;  // a failed rewrite in place was put back, or found damaged
  bool held_ = false;    // stop requests are held back
};

}  // namespace mkani

#endif  // MKANI_SCRIPT_OUTPUT_FILE_H_
