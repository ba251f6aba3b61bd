#include "script/script_writer.h"

#include <gtest/gtest.h>

#include "test/test_util.h"

namespace mkani {

TEST(ScriptWriterTest, WritesEveryByteWhateverTheCountAndTheBufferAndKnowsTheSizeBefore) {
  ScopedTempDir dir;
  // The worked example, every byte spelled out, holds the plain way to the format.
  EXPECT_EQ(expectedScript({"sunset.jpg", "beach.jpg"}),
            ";Automatically created by Pelorin.\r\n\r\nvoice_data\\w.wav\r\n\r\nsunset.jpg\t\t;0 "
            "\r\nbeach.jpg\t\t;1 \r\n\r\nEOJ\r\n\t\t0\r\n10\t\t1\r\n20\r\n\r\nEOFL\r\n\r\n\"\"\r\n"
            "\"\"\r\n10\r\n\"\"\r\n\"\"\r\n20\r\n\r\n\"EOTL\"\r\n\r\nEOF\r\n\r\n");
  std::vector<std::string> many = {"my trip; day 1.jpg", "tab\there.jpg", std::string(150, 'L')};
  while (many.size() < 30000) many.push_back(std::string(many.size() % 90, 'f') + ".jpg");
  // The size known before writing is the size written, for counts on both sides of each new
  // digit.
  for (const size_t count :
       {0, 1, 2, 9, 10, 11, 99, 100, 101, 999, 1000, 1001, 9999, 10000, 10001}) {
    size_t bytes = 0;
    for (size_t k = 0; k < count; ++k) bytes += many[k].size();
    EXPECT_EQ(scriptSize(count, bytes), expectedScript({&many[0], &many[count]}).size()) << count;
  }
  // The smallest buffer, which names and lists cross at every step, writes the same bytes; a
  // large one goes to the file in few writes, each all but the last nearly a whole buffer.
  for (const size_t buffer : {ScriptWriter::kBufferSize, size_t{64}}) {
    FaultyFile file;
    ASSERT_EQ(writeScript(many, &file, buffer), "");
    const std::string text = readFile("main.ani");
    EXPECT_TRUE(text == expectedScript(many)) << buffer;
    EXPECT_LE(file.writes, text.size() / (buffer - 63) + 1) << buffer;
  }
}

}  // namespace mkani
