#include "search/name_batch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mkani {

using Names = std::vector<std::string>;

// Returns the names of `batch`, in the order of its references.
Names namesOf(const NameBatch& batch) {
  Names names;
  for (size_t i = 0; i < batch.count(); ++i) names.emplace_back(batch.name(i));
  return names;
}

// Returns the bytes that `names` take in a batch with their references.
size_t bytesFor(const Names& names) {
  size_t bytes = 0;
  for (const std::string& name : names) bytes += name.size() + sizeof(NameRef);
  return bytes;
}

TEST(NameBatchTest, FillsItsFirstBlockThenItsBudgetToTheByteAndTakesNoMore) {
  // Names of `size` bytes offered until one does not fit or `offered` were: five-byte names take
  // 21 bytes with their references, four fill 84 bytes; 48-byte ones take 64, and 16384 fill the
  // first block.
  const size_t first = NameBatch::kFirstBlock;
  struct Case {
    size_t budget;
    size_t size;
    size_t offered;
    size_t taken;
    size_t capacity;
  };
  const Case cases[] = {
      {84, 5, 5, 4, 84},
      {83, 5, 4, 3, 83},
      {85, 5, 5, 4, 85},
      {21, 5, 2, 1, 21},
      {2 * first, 48, 16384, 16384, first},
      {2 * first, 48, 16385, 16385, 2 * first},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.budget << " " << c.offered);
    NameBatch batch(c.budget);
    Names taken;
    for (size_t i = 0; i < c.offered; ++i) {
      const std::string name = std::string(c.size - 5, 'n') + std::to_string(10000 + i);
      if (!batch.add(name, false)) break;
      taken.push_back(name);
    }
    EXPECT_EQ(taken.size(), c.taken);
    EXPECT_EQ(batch.capacity(), c.capacity);
    EXPECT_EQ(batch.bytes(), bytesFor(taken));
    EXPECT_EQ(namesOf(batch), taken);
    batch.clear();  // the block kept, as empty as new
    EXPECT_TRUE(batch.add(taken.back(), false));
    EXPECT_EQ(batch.bytes(), bytesFor({taken.back()}));
    EXPECT_EQ(batch.capacity(), c.capacity);
  }
}

TEST(NameBatchTest, GrowsPastTheBudgetOnlyForANameThatMustBeAdded) {
  NameBatch batch(40);
  EXPECT_TRUE(batch.add("an empty batch takes a name of any length", false));
  EXPECT_FALSE(batch.add("b", false));
  EXPECT_TRUE(batch.add("forced", true));
  EXPECT_EQ(namesOf(batch), (Names{"an empty batch takes a name of any length", "forced"}));
  EXPECT_EQ(batch.capacity(), batch.bytes());
}

TEST(NameBatchTest, PruneKeepsTheSmallestNamesFillingHalfTheBudgetWholeForNamesAddedAfter) {
  // Names added in no order, of different lengths so that a name moved onto another shows; then
  // "0" and "11", smaller than all.
  const Names five = {"ddd", "bbbbb", "eeee", "aaaa", "ccc"};
  struct Case {
    size_t budget;
    Names added;
    Names kept;
    std::string cutoff;
  };
  const Case cases[] = {
      {120, five, {"aaaa", "bbbbb", "ccc"}, "ddd"},  // half holds 19 to 21 bytes each to the byte
      {118, five, {"aaaa", "bbbbb"}, "ccc"},
      {40, {"bb", "aaaaa", "cc"}, {"aaaaa"}, "bb"},  // the first, though more than half the budget
      {1000, {"c", "a", "b"}, {"a", "b"}, "c"},      // never the last, though all would fit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.budget);
    NameBatch batch(c.budget);
    for (const std::string& name : c.added) batch.add(name, true);
    std::string cutoff;
    batch.prune(&cutoff);
    EXPECT_EQ(cutoff, c.cutoff);
    EXPECT_EQ(batch.bytes(), bytesFor(c.kept));
    batch.add("0", true);
    batch.add("11", true);
    batch.sort();
    Names expected = {"0", "11"};
    expected.insert(expected.end(), c.kept.begin(), c.kept.end());
    EXPECT_EQ(namesOf(batch), expected);
  }
}

}  // namespace mkani
