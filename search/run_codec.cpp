#include "search/run_codec.h"

#include <algorithm>
#include <cstring>

namespace mkani {

RunWriter::RunWriter(RunStore* store, size_t bufferSize) : store_(store), bufferSize_(bufferSize) {}

bool RunWriter::add(std::string_view name, std::string* err) {
  if (buffer_.size() + kRunLengthBytes + name.size() > bufferSize_ && !flush(err)) return false;
  // Taken at the first name, as the first run is written; emptied, the buffer keeps it.
  if (buffer_.capacity() < bufferSize_) buffer_.reserve(bufferSize_);
  buffer_ += static_cast<char>(name.size() & 0xFF);
  buffer_ += static_cast<char>(name.size() >> 8);
  buffer_.append(name);
  return true;
}

bool RunWriter::finish(RunSpan* run, std::string* err) {
  if (!flush(err)) return false;
  run->begin = begin_;
  run->end = end_;
  begin_ = end_;
  return true;
}

bool RunWriter::flush(std::string* err) {
  if (!store_->append(buffer_.data(), buffer_.size(), err)) return false;
  end_ += buffer_.size();
  buffer_.clear();
  return true;
}

RunReader::RunReader(RunStore* store, RunSpan run, size_t bufferSize)
    : store_(store),
      at_(run.begin),
      end_(run.end),
      buffer_(new char[bufferSize]),
      size_(bufferSize) {}

bool RunReader::advance(std::string* err) {
  const unsigned char* at;
  size_t need;  // the next name's bytes with its length's, or the length's until it is read
  for (;;) {
    const size_t have = filled_ - pos_;
    at = reinterpret_cast<const unsigned char*>(buffer_.get() + pos_);
    need =
        have < kRunLengthBytes ? kRunLengthBytes : kRunLengthBytes + at[0] + (size_t{at[1]} << 8);
    if (have >= need) break;
    if (have == 0 && at_ == end_) {
      name_ = {};
      return true;
    }
    // Keep what is left at the front, where the buffer has room for the whole name, and read on.
    std::memmove(buffer_.get(), at, have);
    pos_ = 0;
    filled_ = have;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size_ - have, end_ - at_));
    size_t got = 0;
    if (!store_->read(at_, buffer_.get() + have, want, &got, err)) return false;
    if (got == 0) {  // the run's end is past the store's, or a name past the run's
      *err = "the file ends early";
      return false;
    }
    at_ += got;
    filled_ += got;
  }
  name_ =
      std::string_view(reinterpret_cast<const char*>(at) + kRunLengthBytes, need - kRunLengthBytes);
  pos_ += need;
  return true;
}

}  // namespace mkani
