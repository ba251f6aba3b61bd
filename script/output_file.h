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
  // link, a directory, not a regular file, or not writable. Returns false with the reason in *err,
  // having left nothing made or open.
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
  virtual bool fixedSize() const = 0;
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
  // What the old file had, when there was one: permission bits, and owner and group where the
  // platform has them.
  struct Kept {
    int mode;
    unsigned owner, group;
  };
  // The volume and file number of a file.
  struct FileId {
    uint64_t volume, index;
  };

  // The ladder, decided in output_file.cpp; the platform files only make the calls.
  //
  //   open:   examine `path` --> no file to write there: fail
  //             |
  //             +--> whole: a scratch file with room, given what the old one had
  //             |      |   --> refused here (no new file, no room, an attribute not given): (a)
  //             |      |   --> any other failure: fail
  //             | (a), or a folder that keeps every name, or a `path` that may not be replaced
  //             v
  //           in place: the old file (or a first one) opened, locked, room made, its bytes kept
  //   write:  in place: into memory (ready_) while it fits; whole: into the scratch file
  //   close:  in place: written, cut, closed --> done
  //           whole: named, closed, renamed over `path`
  //             --> done, the old script's copy (if the rename made one) removed
  //             --> `path` lost on the way: fail, naming the scratch file that holds the script
  //             --> refused with `path` whole: the scratch file copied in place, then removed
  //   any failure in place: the old bytes put back, else "damaged"; a `path` made here removed

  // Makes the call at `step` unless a test has it fail. Returns 0, or the error code of the
  // test's fault or of `call`.
  template <typename Call>
  int attempt(Step step, Call call) {
    const int injected = fault(step);
    return injected != 0 ? injected : call();
  }

  // The ladder's steps, each returning false with the reason in *err.
  // Opens the scratch file for a whole replacement; *refused when in place may work instead.
  bool openWhole(bool* refused, std::string* err);
  // Opens `path` for rewriting in place, locked and with room for size_ bytes.
  bool openInPlace(std::string* err);
  // Opens the old file for writing, or creates `path` (noting created_) when there is none and
  // the folder has room for size_ bytes.
  bool openRewrite(std::string* err);
  // Closes the written scratch file, with a name and the old file's mode.
  bool closeScratch(std::string* err);
  // Renames the closed scratch file over `path`, then removes the old one's copy if one was made;
  // *refused when `path` is whole and a copy in place may work instead.
  bool replaceWhole(bool* refused, std::string* err);
  // Rewrites `path` in place with the bytes of the scratch file.
  bool copyInPlace(std::string* err);
  // Sets ready_ up to hold the whole new script when it fits kReadyMax and memory.
  void readyScript();
  // Writes what ready_ holds, if anything, and stops holding it.
  bool writeReady(std::string* err);
  // Writes `size` bytes at `data` into the file, holding stops from the first byte in place;
  // undoes a rewrite in place that fails.
  bool writeThrough(const char* data, size_t size, std::string* err);
  // Keeps the old bytes of the file open in place in oldBytes_ where they fit kKeptMax.
  void keepOld();
  // After a failed rewrite in place: puts the old bytes back, or else notes and adds to *err
  // that `path` is damaged.
  void undoInPlace(std::string* err);
  // Cuts and closes the file rewritten in place.
  bool finishInPlace(std::string* err);
  // Closes file_. Returns 0 or the error code; the handle is closed either way.
  int closeFile();
  // Stops holding back stop requests, if they were held.
  void releaseHeld();

  // The platform's calls (output_file_posix.cpp, output_file_win32.cpp). Unless said otherwise
  // they return 0 or the platform's error code, and make no choice of the ladder's.
  // Refuses, with the reason in *err, what cannot be written at all; opens the old file, notes
  // its mode and whether a rename over it is bound to fail (renameRefused_).
  bool examine(std::string* err);
  // Returns the words for `error`, a failure at `path`: what stands there when it is no file to
  // write, another program holding it, else the system's text.
  std::string describe(int error) const;
  // Returns true when `error`, met creating the scratch file or its room, refuses that here
  // where the old file may still be written in place: no permission, no inode, no room.
  static bool refusedHere(int error);
  // Makes room for size_ bytes in the open file `handle`.
  int makeRoomIn(intptr_t handle) const;
  // Checks that the folder has room for a first script of size_ bytes.
  int roomInFolder() const;
  // Gives the scratch file what the old one had: any failure refuses a whole replacement.
  int carryOver();
  // Gives the file `handle` back the old file's set-ID bits, which writing cleared, where the
  // platform has them and the process may.
  void restoreMode(intptr_t handle);
  // Renames the closed scratch file over `path`, retrying while others hold it. Where the
  // platform moves the old file away first, it goes under the name `copy`.
  int replace(const std::string& copy);
  // Returns true when `name` names a file or folder.
  bool exists(const std::string& name) const;
  // Opens the closed scratch file `file` again, for reading.
  int reopen(ScratchFile* file);
  // Opens the old file for writing into file_; leaves file_ closed when there is none.
  int openOld();
  // Creates `path` into file_, with its identity in *made where that can be read.
  int createNew(std::optional<FileId>* made);
  // Locks file_ against other runs' rewrites, waiting for one when `wait`. Returns false only
  // when another run holds it and `wait` is false; where the file system keeps no locks, true.
  bool lockRewrite(bool wait);
  // Returns true when file_ may no longer hold what it held: a byte was written, or that
  // cannot be told.
  bool touched();
  // Removes `path` when it is still the file `made`, which this run created.
  void removeCreated(const FileId& made);
  // Cuts file_ where writing ended.
  int cut();
  // Moves file_ back to its start. Returns false when it cannot.
  bool seekStart();
  // Closes the old file when it is open.
  void closeOld();

  std::string path_;
  uint64_t size_;                        // room to make: set by open
  ScratchFile file_;                     // the new file: a scratch file, or `path` itself in place
  intptr_t old_ = ScratchFile::kClosed;  // the old file, open for writing
  std::optional<Kept> kept_;
  std::function<void(const std::string&)> notice_;
  std::optional<FileId> created_;        // a `path` that this run created, until it is whole
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
