#include "search/run_merge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test/test_util.h"

namespace mkani {

using Names = std::vector<std::string>;

// Runs set aside in a store, and a sorted batch beside them, to merge.
class RunMergeTest : public testing::Test {
 protected:
  // Sets `names`, sorted, aside as one more run.
  void addRun(const Names& names) {
    std::string err;
    for (const std::string& name : names) ASSERT_TRUE(writer_.add(name, &err)) << err;
    RunSpan run;
    ASSERT_TRUE(writer_.finish(&run, &err)) << err;
    runs_.push_back(run);
  }
  // Puts `names` in the batch, sorted.
  void fillBatch(const Names& names) {
    for (const std::string& name : names) ASSERT_TRUE(batch_.add(name, false));
    batch_.sort();
  }
  // Returns the names that the merge yields, and sets *err to the reason it failed, or "".
  Names merged(std::string* err) {
    RunMerge merge;
    Names names;
    err->clear();
    if (!merge.start(&store_, runs_, 64, &batch_, err)) return names;
    while (!merge.name().empty()) {
      names.emplace_back(merge.name());
      if (!merge.pass(err)) break;
    }
    EXPECT_EQ(merge.name(), "") << "names after a failure";
    return names;
  }

  FakeRunStore store_;
  RunWriter writer_{&store_, 64};
  std::vector<RunSpan> runs_;
  NameBatch batch_{1024};
};

TEST_F(RunMergeTest, YieldsTheNamesOfEveryRunAndTheBatchInOrder) {
  addRun({"b.jpg", "e.jpg", "g.jpg"});
  addRun({"a.jpg", "d.jpg"});
  fillBatch({"f.jpg", "c.jpg"});
  std::string err;
  EXPECT_EQ(merged(&err), (Names{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg", "g.jpg"}));
  EXPECT_EQ(err, "");
}

TEST_F(RunMergeTest, ANameThatTwoSourcesHoldComesTwice) {
  addRun({"a.jpg", "b.jpg"});
  fillBatch({"b.jpg"});
  std::string err;
  EXPECT_EQ(merged(&err), (Names{"a.jpg", "b.jpg", "b.jpg"}));
}

TEST_F(RunMergeTest, ARunThatCannotBeReadAtTheStartYieldsNothing) {
  addRun({"a.jpg"});
  fillBatch({"b.jpg"});
  store_.failReadAt = 0;
  std::string err;
  EXPECT_EQ(merged(&err), Names());
  EXPECT_EQ(err, "No space left on device");
}

TEST_F(RunMergeTest, ARunCutShortEndsTheMergeWhereItFails) {
  addRun({"a.jpg", "c.jpg"});
  fillBatch({"b.jpg", "d.jpg"});
  store_.bytes.resize(store_.bytes.size() - 3);  // into c.jpg
  std::string err;
  // Moving the run past a.jpg fails: b.jpg, in the batch, might not be the smallest name left.
  EXPECT_EQ(merged(&err), (Names{"a.jpg"}));
  EXPECT_EQ(err, "the file ends early");
}

}  // namespace mkani
