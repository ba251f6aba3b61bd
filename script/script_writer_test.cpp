#include "script/script_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "test/test_util.h"

namespace mkani {
namespace {

// Writes main.ani for `names` in the current directory through `file` (the disk's when null),
// buffering `bufferSize` bytes; returns the first failure, or "".
std::string writeScript(const std::vector<std::string>& names, OutputFile* file = nullptr,
                        size_t bufferSize = ScriptWriter::kBufferSize) {
  DiskOutputFile disk;
  ScriptWriter script(file ? file : &disk, bufferSize);
  std::string err;
  if (script.open(&err)) {
    for (size_t k = 0; k < names.size(); ++k) script.writePicture(names[k], k, &err);
    script.finish(names.size(), &err);
  }
  script.close(&err);
  return err;
}

TEST(ScriptWriterTest, WritesEveryByteWhateverTheCountAndTheBuffer) {
  ScopedTempDir dir;
  // The worked example, every byte spelled out, holds the plain way to the format.
  const std::vector<std::string> two = {"sunset.jpg", "beach.jpg"};
  EXPECT_EQ(expectedScript(two),
            ";Automatically created by Pelorin.\r\n\r\nvoice_data\\w.wav\r\n\r\nsunset.jpg\t\t;0 "
            "\r\nbeach.jpg\t\t;1 \r\n\r\nEOJ\r\n\t\t0\r\n10\t\t1\r\n20\r\n\r\nEOFL\r\n\r\n\"\"\r\n"
            "\"\"\r\n10\r\n\"\"\r\n\"\"\r\n20\r\n\r\n\"EOTL\"\r\n\r\nEOF\r\n\r\n");
  std::vector<std::string> many = {"my trip; day 1.jpg", "TRIP.JPG",      "tab\there.jpg",
                                   "quote\"d.jpg",       "\xe9t\xe9.jpg", std::string(150, 'L')};
  while (many.size() < 30000) many.push_back("frame_" + std::to_string(many.size()) + ".jpg");
  // Sizes and line counts by the format's formulas, over a longer script each time; the
  // smallest buffer, which names and lists cross at every step, writes the same bytes.
  size_t size = 96;  // and for each picture its name, the digits of k and 10 (k + 1) twice, 20
  for (size_t k = 0; k < many.size(); ++k) {
    size += many[k].size() + 2 * std::to_string(k).size() + 2 * std::to_string(10 * k + 10).size();
  }
  const struct {
    const std::vector<std::string>& names;
    size_t buffer, size, lines;
  } cases[] = {{two, ScriptWriter::kBufferSize, 167, 25},
               {many, ScriptWriter::kBufferSize, size + 20 * many.size(), 5 * many.size() + 15},
               {many, 64, size + 20 * many.size(), 5 * many.size() + 15}};
  for (const auto& c : cases) {
    writeFile("main.ani", std::string(1 << 21, 'x'));
    ASSERT_EQ(writeScript(c.names, nullptr, c.buffer), "");
    const std::string text = readFile("main.ani");
    EXPECT_TRUE(text == expectedScript(c.names)) << c.names.size() << " at " << c.buffer;
    EXPECT_EQ(text.size(), c.size);
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), c.lines);
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
