// A file written from the start, through the platform's own calls.
#ifndef MKANI_SCRIPT_OUTPUT_FILE_H_
#define MKANI_SCRIPT_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace mkani {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // closes a file still open, ignoring failures
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `path` for writing, created (read and write for its owner, read for others, less the
  // process's mask) or emptied, shared with other programs. Never follows a symbolic link and
  // refuses anything but a regular file. Returns false with the reason in *err.
  bool create(const char* path, std::string* err);

  // Writes all `size` bytes at `data`. Returns false with the reason in *err.
  bool write(const char* data, size_t size, std::string* err);

  // Closes the file. Returns false with the reason in *err when the platform reports a failure,
  // as it may for writes it had delayed.
  bool close(std::string* err);

  bool isOpen() const { return handle_ != kClosed; }

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;  // the platform's descriptor or handle
};

}  // namespace mkani

#endif  // MKANI_SCRIPT_OUTPUT_FILE_H_
