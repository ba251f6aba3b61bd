#include "script/script_writer.h"

#include <cstring>

namespace mkani {
namespace {

const char kHeader[] = ";Automatically created by Pelorin.\r\n\r\nvoice_data\\w.wav\r\n\r\n";
const char kPictureTail[] = "\t\t;";
const char kEndOfPictures[] = "\r\nEOJ\r\n";
const char kEndOfIndex[] = "\r\n\r\nEOFL\r\n\r\n";
const char kStringEntry[] = "\"\"\r\n\"\"\r\n";
const char kTrailer[] = "\r\n\"EOTL\"\r\n\r\nEOF\r\n\r\n";

// The entry value of index k; as the index is 64-bit, no count a disk can hold overflows it.
inline uint64_t entryValue(uint64_t index) {
  return 10 * (index + 1);
}

}  // namespace

bool fitsOnPictureLine(std::string_view name) {
  return name.find_first_of("\r\n") == std::string_view::npos;
}

ScriptWriter::ScriptWriter() : buffer_(new char[kBufferSize]) {}

ScriptWriter::~ScriptWriter() = default;

bool ScriptWriter::open(std::string* err) {
  if (!file_.create(kFileName, &error_)) {
    failed_ = true;
    return report(err);
  }
  put(kHeader, sizeof kHeader - 1);
  return report(err);
}

bool ScriptWriter::writePicture(std::string_view name, uint64_t index, std::string* err) {
  put(name);
  put(kPictureTail, sizeof kPictureTail - 1);
  putNumber(index);
  put(" \r\n", 3);
  return report(err);
}

bool ScriptWriter::finish(uint64_t count, std::string* err) {
  put(kEndOfPictures, sizeof kEndOfPictures - 1);
  for (uint64_t k = 0; k < count && !failed_; ++k) {
    put("\t\t", 2);
    putNumber(k);
    put("\r\n", 2);
    putNumber(entryValue(k));
  }
  put(kEndOfIndex, sizeof kEndOfIndex - 1);
  for (uint64_t k = 0; k < count && !failed_; ++k) {
    put(kStringEntry, sizeof kStringEntry - 1);
    putNumber(entryValue(k));
    put("\r\n", 2);
  }
  put(kTrailer, sizeof kTrailer - 1);
  return report(err);
}

bool ScriptWriter::close(std::string* err) {
  if (!file_.isOpen()) return report(err);
  flush();
  std::string closeError;
  if (!file_.close(&closeError) && !failed_) {
    failed_ = true;
    error_ = closeError;
  }
  return report(err);
}

void ScriptWriter::put(const char* data, size_t size) {
  while (size > kBufferSize - used_ && !failed_) {
    const size_t room = kBufferSize - used_;
    std::memcpy(buffer_.get() + used_, data, room);
    used_ += room;
    data += room;
    size -= room;
    flush();
  }
  if (failed_) return;
  std::memcpy(buffer_.get() + used_, data, size);
  used_ += size;
}

void ScriptWriter::putNumber(uint64_t value) {
  char digits[20];
  char* start = digits + sizeof digits;
  do {
    *--start = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  put(start, static_cast<size_t>(digits + sizeof digits - start));
}

void ScriptWriter::flush() {
  if (!failed_ && used_ > 0 && !file_.write(buffer_.get(), used_, &error_)) failed_ = true;
  used_ = 0;
}

bool ScriptWriter::report(std::string* err) const {
  if (!failed_) return true;
  *err = std::string("cannot write ") + kFileName + ": " + error_;
  return false;
}

}  // namespace mkani
