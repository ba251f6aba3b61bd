// Where the script goes: a new file that takes the place of the old one whole, or not at all.
#ifndef MKANI_SCRIPT_OUTPUT_FILE_H_
#define MKANI_SCRIPT_OUTPUT_FILE_H_

#include <cstddef>
#include <string>

#include "util/scratch_file.h"

namespace mkani {

class OutputFile {
 public:
  virtual ~OutputFile() = default;

  // Opens a new file that is to replace `path`. Refuses, before anything is created, a `path`
  // that is a symbolic link, a directory, not a regular file, or not writable. Returns false
  // with the reason in *err.
  virtual bool open(const char* path, std::string* err) = 0;

  // Writes all `size` bytes at `data`. Returns false with the reason in *err.
  virtual bool write(const char* data, size_t size, std::string* err) = 0;

  // Closes the new file. Returns false with the reason in *err when the platform reports a
  // failure, as it may for writes it had delayed.
  virtual bool close(std::string* err) = 0;

  // Puts the closed file in the place of `path` in one step. Returns false with the reason in
  // *err; `path` then keeps what it held.
  virtual bool replace(std::string* err) = 0;

  // Gives up on a file not yet in place: closes and removes it, and `path` keeps what it held.
  virtual void discard() = 0;
};

// The file on disk. The new file is a scratch file beside `path`, given the permission bits
// (and, where allowed, the owner and group) of the file it replaces. In a folder that takes no
// new file, an existing `path` is emptied and rewritten in place instead.
class DiskOutputFile : public OutputFile {
 public:
  DiskOutputFile() = default;
  ~DiskOutputFile() override;  // discards a file not yet in place
  DiskOutputFile(const DiskOutputFile&) = delete;
  DiskOutputFile& operator=(const DiskOutputFile&) = delete;

  bool open(const char* path, std::string* err) override;
  bool write(const char* data, size_t size, std::string* err) override;
  bool close(std::string* err) override;
  bool replace(std::string* err) override;
  void discard() override;

 private:
  std::string path_;
  ScratchFile file_;      // the new file
  bool inPlace_ = false;  // file_ is `path` itself, rewritten in place
};

}  // namespace mkani

#endif  // MKANI_SCRIPT_OUTPUT_FILE_H_
