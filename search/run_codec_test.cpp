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

const Names kFrames = {"frame_1.jpg", "frame_2.jpg", std::string(300, 'L') + ".jpg", "frame_3.jpg"};

TEST(RunCodecTest, ReadsBackTheNamesWrittenThroughAnyBuffer) {
  // The smallest buffer holds the longest name with its length: names straddle its end, and one
  // fills it whole.
  FakeRunStore store;
  RunWriter writer(&store, 64);
  const RunSpan run = writeRun(&writer, kFrames);
  for (size_t bufferSize : {size_t{306}, size_t{307}, size_t{320}, size_t{4096}}) {
    std::string err;
    EXPECT_EQ(readRun(&store, run, bufferSize, &err), kFrames) << bufferSize;
    EXPECT_EQ(err, "") << bufferSize;
  }
}

TEST(RunCodecTest, ANameStartsWithItsLengthLowByteFirst) {
  FakeRunStore store;
  RunWriter writer(&store, 1024);
  writeRun(&writer, {"ab", std::string(258, 'x')});
  EXPECT_EQ(store.bytes.substr(0, 4), std::string("\x02\x00"
                                                  "ab",
                                                  4));
  EXPECT_EQ(store.bytes.substr(4, 2), std::string("\x02\x01", 2));
}

TEST(RunCodecTest, RunsFollowOneAnotherAndReadBackApart) {
  FakeRunStore store;
  RunWriter writer(&store, 64);
  const RunSpan first = writeRun(&writer, {"a.jpg", "c.jpg"});
  const RunSpan second = writeRun(&writer, {"b.jpg"});
  EXPECT_EQ(first.begin, 0u);
  EXPECT_EQ(second.begin, first.end);
  EXPECT_EQ(second.end, store.bytes.size());
  std::string err;
  EXPECT_EQ(readRun(&store, first, 64, &err), (Names{"a.jpg", "c.jpg"}));
  EXPECT_EQ(readRun(&store, second, 64, &err), (Names{"b.jpg"}));
}

TEST(RunCodecTest, WritesInAppendsOfTheBufferSizeAtMostButForALongerName) {
  // Eleven-byte names take 13 bytes: four fill a buffer of 52.
  FakeRunStore store;
  RunWriter writer(&store, 52);
  writeRun(&writer, {"frame_1.jpg", "frame_2.jpg", "frame_3.jpg", "frame_4.jpg", "frame_5.jpg"});
  EXPECT_EQ(store.largest, 52);
  EXPECT_EQ(store.appends, 2);
  writeRun(&writer, {std::string(100, 'L')});
  EXPECT_EQ(store.largest, 102);
}

TEST(RunCodecTest, AStoreThatEndsBeforeTheRunIsAFailure) {
  // Cut inside the last name's bytes, and inside its length.
  for (size_t cut : {size_t{3}, size_t{12}}) {
    FakeRunStore store;
    RunWriter writer(&store, 1024);
    const RunSpan run = writeRun(&writer, kFrames);
    store.bytes.resize(store.bytes.size() - cut);
    std::string err;
    EXPECT_EQ(readRun(&store, run, 1024, &err), Names(kFrames.begin(), kFrames.end() - 1)) << cut;
    EXPECT_EQ(err, "the file ends early") << cut;
  }
}

TEST(RunCodecTest, FailuresOfTheStoreComeBackWithTheirReason) {
  FakeRunStore store;
  RunWriter writer(&store, 1024);
  const RunSpan run = writeRun(&writer, kFrames);
  store.failReadAt = 0;
  std::string err;
  EXPECT_EQ(readRun(&store, run, 1024, &err), Names());
  EXPECT_EQ(err, "No space left on device");

  store.failAppendAt = store.appends;
  RunSpan ignored;
  EXPECT_TRUE(writer.add("a.jpg", &err));
  EXPECT_FALSE(writer.finish(&ignored, &err));
  EXPECT_EQ(err, "No space left on device");
}

}  // namespace mkani
