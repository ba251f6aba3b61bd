#include "script/script_writer.h"

#include <algorithm>
#include <cstring>

namespace mkani {
namespace {

const char kHeader[] = ";Automatically created by Pelorin.\r\n\r\nvoice_data\\w.wav\r\n\r\n";
const char kEndOfPictures[] = "\r\nEOJ\r\n";
const char kEndOfIndex[] = "\r\n\r\nEOFL\r\n\r\n";
const char kStringEntry[] = "\"\"\r\n\"\"\r\n";
const char kTrailer[] = "\r\n\"EOTL\"\r\n\r\nEOF\r\n\r\n";

// Copies `text` to `at` and returns the end of the copy.
inline char* copy(char* at, const char* text, size_t size) {
  std::memcpy(at, text, size);
  return at + size;
}

// Writes `value` in decimal at `at` and returns the end of the digits.
char* writeNumber(char* at, uint64_t value) {
  char digits[20];
  char* start = digits + sizeof digits;
  do {
    *--start = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  return copy(at, start, static_cast<size_t>(digits + sizeof digits - start));
}

// A count kept as its decimal digits and counted up in place, for the lists that run through
// every index: cheaper than formatting each number anew.
class Counter {
 public:
  // Bytes that copyTo writes, whatever the value; only size() of them count.
  static constexpr size_t kWidth = 24;

  // Copies the digits to `at`, writing kWidth bytes, and returns the end of the digits.
  char* copyTo(char* at) const {
    std::memcpy(at, digits_, kWidth);
    return at + size_;
  }

  void increment() {
    for (size_t at = size_; at-- > 0; digits_[at] = '0') {
      if (digits_[at] != '9') {
        ++digits_[at];
        return;
      }
    }
    std::memmove(digits_ + 1, digits_, size_++);
    digits_[0] = '1';
  }

 private:
  char digits_[kWidth] = {'0'};
  size_t size_ = 1;
};

// Returns the digits that the numbers 1 to `last` take in all.
uint64_t digitsUpTo(uint64_t last) {
  uint64_t sum = 0;
  // Each number has as many digits as there are powers of ten up to it.
  for (uint64_t power = 1; power <= last; power *= 10) sum += last - power + 1;
  return sum;
}

}  // namespace

bool fitsOnPictureLine(std::string_view name) {
  return !std::memchr(name.data(), '\n', name.size()) &&
         !std::memchr(name.data(), '\r', name.size());
}

uint64_t scriptSize(uint64_t count, uint64_t nameBytes) {
  // The fixed pieces, then for each index k: its picture line, index entry and string entry
  // hold 22 bytes beside the name, the digits of k twice and those of k + 1 twice.
  uint64_t size = 96 + nameBytes + 22 * count;
  if (count > 0) size += 2 * (1 + digitsUpTo(count - 1) + digitsUpTo(count));
  return size;
}

ScriptWriter::ScriptWriter(OutputFile* file, size_t bufferSize)
    : file_(file), size_(bufferSize), buffer_(new char[bufferSize]) {}

bool ScriptWriter::open(uint64_t count, uint64_t nameBytes, std::string* err) {
  failed_ = !file_->open(kFileName, scriptSize(count, nameBytes), &error_);
  put(kHeader, sizeof kHeader - 1);
  return report(err);
}

bool ScriptWriter::writePicture(std::string_view name, uint64_t index, std::string* err) {
  char line[32];  // TAB TAB ; the index (at most 20 digits) SPACE CR LF
  char* const end = copy(writeNumber(copy(line, "\t\t;", 3), index), " \r\n", 3);
  put(name.data(), name.size());
  put(line, static_cast<size_t>(end - line));
  return report(err);
}

bool ScriptWriter::finish(uint64_t count, std::string* err) {
  put(kEndOfPictures, sizeof kEndOfPictures - 1);
  // Index entries: TAB TAB k, a line end, then 10 * (k + 1), which is k + 1 and a zero.
  Counter index;
  for (uint64_t k = 0; k < count; ++k) {
    char* at = room(2 + 2 * Counter::kWidth);
    if (!at) break;
    at = copy(at, "\t\t", 2);
    at = copy(index.copyTo(at), "\r\n", 2);
    index.increment();
    at = index.copyTo(at);
    *at++ = '0';
    used_ = static_cast<size_t>(at - buffer_.get());
  }
  put(kEndOfIndex, sizeof kEndOfIndex - 1);
  Counter next;
  for (uint64_t k = 0; k < count; ++k) {
    char* at = room(sizeof kStringEntry + Counter::kWidth);
    if (!at) break;
    next.increment();
    at = copy(at, kStringEntry, sizeof kStringEntry - 1);
    at = copy(next.copyTo(at), "0\r\n", 3);
    used_ = static_cast<size_t>(at - buffer_.get());
  }
  put(kTrailer, sizeof kTrailer - 1);
  return report(err);
}

bool ScriptWriter::close(std::string* err) {
  flush();
  if (failed_ || !file_->close(&error_)) {
    failed_ = true;
    file_->discard();
  }
  return report(err);
}

char* ScriptWriter::room(size_t size) {
  if (size_ - used_ < size) flush();
  return failed_ ? nullptr : buffer_.get() + used_;
}

void ScriptWriter::put(const char* data, size_t size) {
  while (size > 0 && !failed_) {
    if (used_ == size_) flush();
    const size_t part = std::min(size, size_ - used_);
    std::memcpy(buffer_.get() + used_, data, part);
    used_ += part;
    data += part;
    size -= part;
  }
}

void ScriptWriter::flush() {
  if (!failed_ && !file_->write(buffer_.get(), used_, &error_)) failed_ = true;
  used_ = 0;
}

bool ScriptWriter::report(std::string* err) const {
  if (!failed_) return true;
  *err = std::string("cannot write ") + kFileName + ": " + error_;
  return false;
}

}  // namespace mkani
