#include "script/script_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

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

TEST(ScriptWriterTest, WorkedExamplesByteForByte) {
  ScopedTempDir dir;
  ASSERT_EQ(writeScript({"sunset.jpg", "beach.jpg"}), "");
  const std::string two = kHeader + "sunset.jpg\t\t;0 \r\nbeach.jpg\t\t;1 \r\n\r\nEOJ\r\n" +
                          "\t\t0\r\n10\t\t1\r\n20\r\n\r\nEOFL\r\n\r\n" +
                          "\"\"\r\n\"\"\r\n10\r\n\"\"\r\n\"\"\r\n20\r\n" + kTrailer;
  EXPECT_EQ(two.size(), 167u);
  EXPECT_EQ(std::count(two.begin(), two.end(), '\n'), 25);
  EXPECT_EQ(readFile("main.ani"), two);

  ASSERT_EQ(writeScript({"a.jpg"}), "");
  const std::string one = kHeader + "a.jpg\t\t;0 \r\n\r\nEOJ\r\n\t\t0\r\n10" +
                          "\r\n\r\nEOFL\r\n\r\n\"\"\r\n\"\"\r\n10\r\n" + kTrailer;
  EXPECT_EQ(one.size(), 127u);
  EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 20);
  EXPECT_EQ(readFile("main.ani"), one);  // the longer script before it is gone
}

TEST(ScriptWriterTest, ManyPicturesFollowTheSizeAndLineFormulas) {
  ScopedTempDir dir;
  std::vector<std::string> names = {"my trip; day 1.jpg",
                                    "TRIP.JPG",
                                    "tab\there.jpg",
                                    "quote\"d.jpg",
                                    "\xe9t\xe9.jpg",
                                    "\x1a.jpg",
                                    std::string(150, 'L') + ".jpg"};
  while (names.size() < 30000) names.push_back("frame_" + std::to_string(names.size()) + ".jpg");
  writeFile("main.ani", std::string(1 << 21, 'x'));  // longer than the new script
  ASSERT_EQ(writeScript(names), "");
  const std::string text = readFile("main.ani");

  const size_t n = names.size();
  size_t size = 96;
  for (size_t k = 0; k < n; ++k) {
    size += names[k].size() + 2 * std::to_string(k).size() +
            2 * std::to_string(10 * (k + 1)).size() + 20;
  }
  EXPECT_EQ(text.size(), size);
  EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), 5 * n + 15);
  for (size_t at = 0; (at = text.find('\n', at + 1)) != std::string::npos;) {
    ASSERT_EQ(text[at - 1], '\r') << "bare line feed at " << at;
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '\x1a'), 1);  // the name's own, no end mark
  EXPECT_EQ(picturesIn(text), names);
  EXPECT_NE(text.find("frame_10.jpg\t\t;10 \r\n"), std::string::npos);
  EXPECT_NE(text.find("\t\t8\r\n90\t\t9\r\n100\t\t10\r\n110\t\t11\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n300000\r\n\r\nEOFL\r\n\r\n\"\"\r\n\"\"\r\n10\r\n\"\"\r\n"),
            std::string::npos);
  const std::string end = "\"\"\r\n\"\"\r\n300000\r\n" + kTrailer;
  EXPECT_EQ(text.substr(text.size() - end.size()), end);

  // The smallest buffer, which names and lists cross at every step, writes the same bytes.
  ASSERT_EQ(writeScript(names, nullptr, 64), "");
  EXPECT_TRUE(readFile("main.ani") == text);
}

TEST(ScriptWriterTest, FailureAtAnyStepKeepsTheOldScriptAndLeavesNothing) {
  ScopedTempDir dir;
  for (const char* step : {"write", "close", "replace"}) {
    writeFile("main.ani", "an older script");
    FaultyFile file(step);
    EXPECT_EQ(writeScript({"a.jpg", "b.jpg"}, &file), "cannot write main.ani: Input/output error");
    EXPECT_EQ(readFile("main.ani"), "an older script") << step;
    auto entries = std::filesystem::directory_iterator(".");
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << step;  // no scratch file left
  }
}

}  // namespace
}  // namespace mkani
