// The animation script main.ani, written in one forward pass.
#ifndef MKANI_SCRIPT_SCRIPT_WRITER_H_
#define MKANI_SCRIPT_SCRIPT_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "script/output_file.h"

namespace mkani {

// Returns true when `name` can stand on a picture line: it holds no line feed or carriage return.
bool fitsOnPictureLine(std::string_view name);

// Returns the size of the script for `count` pictures whose names take `nameBytes` in all.
uint64_t scriptSize(uint64_t count, uint64_t nameBytes);

// Writes main.ani: the header and sound line, one line per picture, then the index list, the
// string list and the trailer, every line ended by CR LF. The calls come in that order: open,
// writePicture for each picture, finish, close. Buffered; after the first failure every call
// fails with the same reason and nothing more is written. The new script takes the place of
// the old one only once it is whole; one never closed is the file's to discard (the file on
// disk does so when it goes).
class ScriptWriter {
 public:
  static constexpr const char* kFileName = "main.ani";
  static constexpr size_t kBufferSize = size_t{1} << 20;

  // Writes through `file`, buffering up to `bufferSize` bytes (at least 64).
  explicit ScriptWriter(OutputFile* file, size_t bufferSize = kBufferSize);

  // Opens the new main.ani in the current directory, with room for at most `count` pictures
  // whose names take at most `nameBytes`, and writes the header and sound line. Returns false
  // with the reason in *err when the file cannot be opened or written.
  bool open(uint64_t count, uint64_t nameBytes, std::string* err);

  // Writes the picture line of `name` with index `index`. Returns false with the reason in *err.
  bool writePicture(std::string_view name, uint64_t index, std::string* err);

  // Writes everything after the picture list for `count` pictures. Returns false with the
  // reason in *err.
  bool finish(uint64_t count, std::string* err);

  // Hands the buffered bytes to the file, closes it and puts it in the place of the old
  // main.ani. Returns false with the reason in *err; the old main.ani then stays as it was.
  bool close(std::string* err);

 private:
  // Returns where `size` more bytes can go (at most 64), flushing the buffer first when
  // it lacks the room; nullptr after a failure. The caller moves used_ past what it wrote.
  char* room(size_t size);
  void put(const char* data, size_t size);
  // Hands the buffered bytes, of which there are always some, to the file.
  void flush();
  bool report(std::string* err) const;

  OutputFile* file_;
  size_t size_;  // of the buffer
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  bool failed_ = false;
  std::string error_;
};

}  // namespace mkani

#endif  // MKANI_SCRIPT_SCRIPT_WRITER_H_
