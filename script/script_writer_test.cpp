#include "script/script_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test/fakes.h"
#include "test/test_util.h"

namespace mkani {
namespace {

const std::string kHeader = ";Automatically created by Pelorin.\r\n\r\nvoice_data\\w.wav\r\n\r\n";
const std::string kTrailer = "\r\n\"EOTL\"\r\n\r\nEOF\r\n\r\n";

// Writes main.ani for `names` in the current directory through `file` (the disk's when null),
// buffering `bufferSize` bytes; returns the first failure, or "".
std::string writeScript(const std::vector<std::string>& names, OutputFile* file = nullptr,
                        size_t bufferSize = ScriptWriter::kBufferSize) {
  DiskOutputFile disk;
  ScriptWriter script(file ? file : &disk, bufferSize);
  std::string err;
  if (script.open(&err)) {
    for (size_t k = 0; k < names.size() && script.writePicture(names[k], k, &err); ++k) {
    }
    script.finish(names.size(), &err);
  }
  script.close(&err);
  return err;
}

// The script for `names`, put together the plain way.
std::string expected(const std::vector<std::string>& names) {
  std::string text = kHeader, index, strings;
  for (size_t k = 0; k < names.size(); ++k) {
    const std::string value = std::to_string(10 * (k + 1));
    text += names[k] + "\t\t;" + std::to_string(k) + " \r\n";
    index += "\t\t" + std::to_string(k) + "\r\n" + value;
    strings += "\"\"\r\n\"\"\r\n" + value + "\r\n";
  }
  return text + "\r\nEOJ\r\n" + index + "\r\n\r\nEOFL\r\n\r\n" + strings + kTrailer;
}

TEST(ScriptWriterTest, WorkedExamplesByteForByte) {
  ScopedTempDir dir;
  ASSERT_EQ(writeScript({"sunset.jpg", "beach.jpg"}), "");
  const std::string two = kHeader + "sunset.jpg\t\t;0 \r\nbeach.jpg\t\t;1 \r\n\r\nEOJ\r\n" +
                          "\t\t0\r\n10\t\t1\r\n20\r\n\r\nEOFL\r\n\r\n" +
                          "\"\"\r\n\"\"\r\n10\r\n\"\"\r\n\"\"\r\n20\r\n" + kTrailer;
  EXPECT_EQ(two.size(), 167u);
  EXPECT_EQ(std::count(two.begin(), two.end(), '\n'), 25);
  EXPECT_EQ(readFile("main.ani"), two);
  EXPECT_EQ(expected({"sunset.jpg", "beach.jpg"}), two);

  ASSERT_EQ(writeScript({"a.jpg"}), "");
  const std::string one = readFile("main.ani");
  EXPECT_EQ(one, expected({"a.jpg"}));  // the longer script before it is gone
  EXPECT_EQ(one.size(), 127u);
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 20);
}

TEST(ScriptWriterTest, ManyPicturesByteForByteWhateverTheBuffer) {
  ScopedTempDir dir;
  std::vector<std::string> names = {"my trip; day 1.jpg",
                                    "TRIP.JPG",
                                    "tab\there.jpg",
                                    "quote\"d.jpg",
                                    "\xe9t\xe9.jpg",
                                    "\x1a.jpg",
                                    std::string(150, 'L') + ".jpg"};
  while (names.size() < 30000) names.push_back("frame_" + std::to_string(names.size()) + ".jpg");
  size_t size = 96;
  for (size_t k = 0; k < names.size(); ++k) {
    size += names[k].size() + 2 * std::to_string(k).size() +
            2 * std::to_string(10 * (k + 1)).size() + 20;
  }
  // The smallest buffer, which names and lists cross at every step, writes the same bytes.
  for (size_t buffer : {ScriptWriter::kBufferSize, size_t{64}}) {
    writeFile("main.ani", std::string(1 << 21, 'x'));  // longer than the new script
    ASSERT_EQ(writeScript(names, nullptr, buffer), "");
    const std::string text = readFile("main.ani");
    EXPECT_EQ(text.size(), size);
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')),
              5 * names.size() + 15);
    EXPECT_TRUE(text == expected(names)) << buffer;
  }
}

TEST(ScriptWriterTest, FailureAtAnyStepKeepsTheOldScriptAndLeavesNothing) {
  ScopedTempDir dir;
  for (const char* step : {"write", "close", "replace"}) {
    writeFile("main.ani", "an older script");
    FaultyFile file(step);
    EXPECT_EQ(writeScript({"a.jpg", "b.jpg"}, &file), "cannot write main.ani: Input/output error");
    EXPECT_EQ(readFile("main.ani"), "an older script") << step;
    EXPECT_EQ(entryCount(), 1) << step;  // no scratch file left
  }
}

}  // namespace
}  // namespace mkani
