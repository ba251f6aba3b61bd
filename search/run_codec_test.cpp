#include "search/run_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test/test_util.h"

namespace mkani {

using Names = std::vector<std::string>;

// Writes `names` as one run to `store` through `writer`; returns where it lies.
RunSpan writeRun(RunWriter* writer, const Names& names) {
  std::string err;
  for (const std::string& name : names) EXPECT_TRUE(writer->add(name, &err)) << err;
  RunSpan run;
  EXPECT_TRUE(writer->finish(&run, &err)) << err;
  return run;
}

// Returns the names of `run` read back through a buffer of `bufferSize` bytes, and sets *err to
// the reason reading failed, or "".
Names readRun(RunStore* store, RunSpan run, size_t bufferSize, std::string* err) {
  RunReader reader(store, run, bufferSize);
  Names names;
  err->clear();
  while (reader.advance(err) && !reader.name().empty()) names.emplace_back(reader.name());
  return names;
}

TEST(RunCodecTest, WritesEachNameAfterItsLengthAndReadsRunsBackUntilTheStoreFailsOrEnds) {
  const Names frames = {
      "frame_1.jpg", "frame_2.jpg", "frame_3.jpg", "frame_4.jpg", std::string(300, 'L') + ".jpg",
      "b.jpg"};
  FakeRunStore store;
  RunWriter writer(&store, 52);  // four eleven-byte names with their lengths fill it
  const RunSpan first = writeRun(&writer, {"a.jpg"});
  const RunSpan second = writeRun(&writer, frames);
  // Each name follows its length in two bytes, low byte first: the second run begins after
  // a.jpg's 7 bytes, and its long name after four frames of 13.
  EXPECT_EQ(store.bytes.substr(7, 13), std::string("\x0b\0frame_1.jpg", 13));
  EXPECT_EQ(store.bytes.substr(59, 3), "\x30\x01L");  // 304
  EXPECT_EQ(store.appends, 4);  // a.jpg, the full buffer, the long name alone, b.jpg
  EXPECT_EQ(store.largest, 306);
  EXPECT_EQ(first.begin, 0u);
  EXPECT_EQ(second.begin, first.end);
  EXPECT_EQ(second.end, store.bytes.size());
  std::string err;
  // The smallest buffer holds the longest name with its length: names straddle its end, and one
  // fills it whole.
  for (size_t bufferSize : {306, 307, 320, 4096}) {
    EXPECT_EQ(readRun(&store, first, bufferSize, &err), Names{"a.jpg"}) << bufferSize;
    EXPECT_EQ(readRun(&store, second, bufferSize, &err), frames) << bufferSize;
    EXPECT_EQ(err, "") << bufferSize;
  }
  for (size_t cut : {3, 6}) {  // in the last name, in its length
    FakeRunStore cutShort = store;
    cutShort.bytes.resize(store.bytes.size() - cut);
    EXPECT_EQ(readRun(&cutShort, second, 1024, &err), Names(frames.begin(), frames.end() - 1));
    EXPECT_EQ(err, "the file ends early") << cut;
  }
  store.failReadAt = store.reads;
  EXPECT_EQ(readRun(&store, first, 1024, &err), Names());
  EXPECT_EQ(err, "No space left on device");
  store.failAppendAt = store.appends;
  EXPECT_TRUE(writer.add("c.jpg", &err));
  RunSpan third;
  EXPECT_FALSE(writer.finish(&third, &err));
  EXPECT_EQ(err, "No space left on device");
}

}  // namespace mkani
