// Sorted runs of names in a RunStore: each name its length in two bytes, low byte first, then its
// bytes; the runs one after another.
#ifndef MKANI_SEARCH_RUN_CODEC_H_
#define MKANI_SEARCH_RUN_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "search/run_store.h"

namespace mkani {

// The bytes before each name in a run, which hold its length.
constexpr size_t kRunLengthBytes = 2;

// Where a run lies in the store: from `begin` up to `end`. RunWriter::finish sets it.
struct RunSpan {
  uint64_t begin;
  uint64_t end;
};

// Writes runs to the end of a store that it alone appends to, from its start.
class RunWriter {
 public:
  // Writes to `store` in appends of at most `bufferSize` bytes, more only to hold a longer name.
  RunWriter(RunStore* store, size_t bufferSize);

  // Adds `name`, of at most 65535 bytes, to the run being written. Returns false with the reason
  // in *err when the store failed.
  bool add(std::string_view name, std::string* err);

  // Ends the run being written and sets *run to where it lies; the next run follows it. Returns
  // false with the reason in *err when the store failed.
  bool finish(RunSpan* run, std::string* err);

 private:
  // Appends the buffer to the store, even when empty. Returns false with the reason in *err.
  bool flush(std::string* err);

  RunStore* store_;
  size_t bufferSize_;
  std::string buffer_;
  uint64_t begin_ = 0;  // where the run being written starts
  uint64_t end_ = 0;    // the end of the store
};

// Reads one run back, a name at a time.
class RunReader {
 public:
  // Reads `run` from `store` through a buffer of `bufferSize` bytes, which must hold the longest
  // name with its length; taken now, so that reading takes no memory.
  RunReader(RunStore* store, RunSpan run, size_t bufferSize);

  // Moves on to the run's next name, name(). Returns false with the reason in *err when the
  // store failed or ended before the run did.
  bool advance(std::string* err);

  // Returns the name that advance reached, valid until it is called again; empty after the last.
  std::string_view name() const { return name_; }

 private:
  RunStore* store_;
  uint64_t at_;   // the next byte to read from the store
  uint64_t end_;  // the end of the run
  std::unique_ptr<char[]> buffer_;
  size_t size_;
  size_t pos_ = 0;     // the first byte of the buffer not yet taken
  size_t filled_ = 0;  // the end of what was read into the buffer
  std::string_view name_;
};

}  // namespace mkani

#endif  // MKANI_SEARCH_RUN_CODEC_H_
