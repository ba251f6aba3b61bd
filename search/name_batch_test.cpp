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

// Returns the names that `batch` took of `names`, added one after another until one did not fit.
Names fillBatch(NameBatch* batch, const Names& names) {
  Names taken;
  for (const std::string& name : names) {
    if (!batch->add(name, false)) break;
    taken.push_back(name);
  }
  return taken;
}

// Returns `count` names of `size` bytes, different and in no order.
Names sameSizeNames(size_t count, size_t size) {
  Names names;
  for (size_t i = 0; i < count; ++i) {
    std::string name = std::to_string((i * 7919) % count);
    names.push_back(std::string(size - name.size(), 'n') + name);
  }
  return names;
}

TEST(NameBatchTest, FillsItsBudgetToTheByteAndNeverTakesMore) {
  // Five-byte names take 21 bytes with their references: four fill 84 bytes.
  struct Case {
    size_t budget;
    size_t fit;
  };
  const Case cases[] = {
      {84, 4}, {83, 3}, {85, 4}, {21, 1}, {NameBatch::kFirstBlock + 5, 49932},
  };
  for (const Case& c : cases) {
    NameBatch batch(c.budget);
    const Names names = sameSizeNames(c.fit + 1, 5);
    const Names taken = fillBatch(&batch, names);
    EXPECT_EQ(taken.size(), c.fit) << c.budget;
    EXPECT_LE(batch.capacity(), c.budget) << c.budget;
    EXPECT_EQ(batch.bytes(), bytesFor(taken)) << c.budget;
    EXPECT_EQ(namesOf(batch), taken) << c.budget;
  }
}

TEST(NameBatchTest, TakesItsFirstBlockWholeBeforeGrowingToTheBudget) {
  // 48-byte names take 64 bytes with their references: 16384 fill the first block to the byte.
  NameBatch batch(2 * NameBatch::kFirstBlock);
  const Names names = sameSizeNames(16385, 48);
  for (size_t i = 0; i < 16384; ++i) batch.add(names[i], false);
  EXPECT_EQ(batch.capacity(), NameBatch::kFirstBlock);
  batch.add(names[16384], false);
  EXPECT_EQ(batch.capacity(), 2 * NameBatch::kFirstBlock);
  EXPECT_EQ(namesOf(batch), names);
}

TEST(NameBatchTest, GrowsPastTheBudgetOnlyForANameThatMustBeAdded) {
  NameBatch batch(40);
  EXPECT_TRUE(batch.add("an empty batch takes a name of any length", false));
  EXPECT_FALSE(batch.add("b", false));
  EXPECT_TRUE(batch.add("forced", true));
  EXPECT_EQ(namesOf(batch), (Names{"an empty batch takes a name of any length", "forced"}));
  EXPECT_EQ(batch.capacity(), batch.bytes());
}

TEST(NameBatchTest, SortsInNameOrder) {
  NameBatch batch(1000);
  for (const char* name : {"b.jpg", "A.jpg", "a.jpg", "B.JPG", "10.jpg", "1.jpg"}) {
    batch.add(name, false);
  }
  batch.sort();
  EXPECT_EQ(namesOf(batch), (Names{"1.jpg", "10.jpg", "A.jpg", "a.jpg", "B.JPG", "b.jpg"}));
}

TEST(NameBatchTest, ClearEmptiesTheBatchAndKeepsItsBlock) {
  NameBatch batch(1000);
  batch.add("a.jpg", false);
  const size_t capacity = batch.capacity();
  batch.clear();
  EXPECT_EQ(batch.count(), 0u);
  EXPECT_EQ(batch.bytes(), 0u);
  EXPECT_EQ(batch.capacity(), capacity);
  batch.add("b.jpg", false);
  EXPECT_EQ(namesOf(batch), (Names{"b.jpg"}));
}

TEST(NameBatchTest, PruneKeepsTheSmallestNamesFillingHalfTheBudget) {
  // Names added in no order, of different lengths so that a name moved onto another shows.
  struct Case {
    const char* what;
    size_t budget;
    Names added;
    Names kept;
    std::string cutoff;
  };
  const Case cases[] = {
      {"half of 120 bytes holds three names of 19 to 21 bytes to the byte",
       120,
       {"ddd", "bbbbb", "eeee", "aaaa", "ccc"},
       {"aaaa", "bbbbb", "ccc"},
       "ddd"},
      {"half of 118 bytes holds two of them",
       118,
       {"ddd", "bbbbb", "eeee", "aaaa", "ccc"},
       {"aaaa", "bbbbb"},
       "ccc"},
      {"the first is kept, though longer than half the budget",
       40,
       {"bb", "a_name_longer_than_twenty_bytes", "cc"},
       {"a_name_longer_than_twenty_bytes"},
       "bb"},
      {"the last is left out, though all would fit", 1000, {"c", "a", "b"}, {"a", "b"}, "c"},
  };
  for (const Case& c : cases) {
    NameBatch batch(c.budget);
    for (const std::string& name : c.added) batch.add(name, true);
    std::string cutoff;
    batch.prune(&cutoff);
    batch.sort();
    EXPECT_EQ(namesOf(batch), c.kept) << c.what;
    EXPECT_EQ(cutoff, c.cutoff) << c.what;
    EXPECT_EQ(batch.bytes(), bytesFor(c.kept)) << c.what;
  }
}

TEST(NameBatchTest, NamesAddedAfterAPruneLeaveTheKeptOnesWhole) {
  NameBatch batch(120);
  for (const char* name : {"ddd", "bbbbb", "eeee", "aaaa", "ccc"}) batch.add(name, true);
  std::string cutoff;
  batch.prune(&cutoff);
  batch.add("0", false);
  batch.add("11", false);
  batch.sort();
  EXPECT_EQ(namesOf(batch), (Names{"0", "11", "aaaa", "bbbbb", "ccc"}));
}

}  // namespace mkani
