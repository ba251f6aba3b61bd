#include "search/run_merge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test/test_util.h"

namespace mkani {

using Names = std::vector<std::string>;

// Returns the names of the merge of `runs`, set aside in a store that then loses its last `cut`
// bytes, with a batch of `batch`; sets *err to the reason the merge failed, or "".
Names merged(const std::vector<Names>& runs, const Names& batch, size_t cut, std::string* err) {
  FakeRunStore store;
  RunWriter writer(&store, 64);
  std::vector<RunSpan> spans(runs.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    for (const std::string& name : runs[i]) writer.add(name, err);
    writer.finish(&spans[i], err);
  }
  store.bytes.resize(store.bytes.size() - cut);
  NameBatch sorted(1024);
  for (const std::string& name : batch) sorted.add(name, false);
  sorted.sort();
  RunMerge merge;
  Names names;
  bool ok = merge.start(&store, spans, 64, &sorted, err);
  for (; ok && !merge.name().empty(); ok = merge.pass(err)) names.emplace_back(merge.name());
  EXPECT_EQ(merge.name(), "");  // none after a failure
  return names;
}

TEST(RunMergeTest, YieldsTheNamesOfEveryRunAndTheBatchInOrderATwinTwice) {
  std::string err;
  EXPECT_EQ(merged({{"b.jpg", "e.jpg", "g.jpg"}, {"a.jpg", "d.jpg"}}, {"f.jpg", "c.jpg", "d.jpg"},
                   0, &err),
            (Names{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "d.jpg", "e.jpg", "f.jpg", "g.jpg"}));
  EXPECT_EQ(err, "");
}

TEST(RunMergeTest, ARunCutShortEndsTheMergeWhereItFails) {
  std::string err;
  // Moving the run past a.jpg fails: b.jpg, in the batch, might not be the smallest name left.
  EXPECT_EQ(merged({{"a.jpg", "c.jpg"}}, {"b.jpg", "d.jpg"}, 3, &err), Names{"a.jpg"});
  EXPECT_EQ(err, "the file ends early");
}

}  // namespace mkani
