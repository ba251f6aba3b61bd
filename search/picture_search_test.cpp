#include "search/picture_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "test/fakes.h"

namespace mkani {
namespace {

using Names = std::vector<std::string>;

struct Listing {
  Names names;
  SearchStatus end;
  std::string error;
  int passes;
  size_t runs;
};

// Everything a search over `dir` yields, and how it ended.
Listing searchAll(DirectorySource* dir, RunStore* runs = nullptr,
                  size_t budget = PictureSearch::kDefaultBudget) {
  PictureSearch search(dir, runs, budget);
  PictureEntry entry;
  Listing listing;
  SearchStatus status = search.first("*.jpg", &entry, &listing.error);
  for (; status == SearchStatus::kEntry; status = search.next(&entry, &listing.error)) {
    listing.names.emplace_back(entry.name);
  }
  listing.end = status;
  listing.passes = search.passes();
  listing.runs = search.runs();
  search.close();
  return listing;
}

void expectStrictlyIncreasing(const Names& names) {
  for (size_t i = 1; i < names.size(); ++i) {
    EXPECT_LT(compareNames(names[i - 1], names[i]), 0) << names[i - 1] << " " << names[i];
  }
}

// Frame names with twins, twins but for letter case, and names that are no pictures.
Names manyNames(size_t count) {
  std::mt19937 random(7);
  Names names;
  for (size_t i = 0; i < count; ++i) {
    const char* ends[] = {".JPG", ".jpg", ".txt"};
    names.push_back("frame_" + std::to_string(random() % (count / 2)) + ends[i % 3]);
  }
  return names;
}

TEST(PictureSearchTest, YieldsNamesEndingInJpgInNameOrder) {
  FakeDirectory dir(
      {"SUMMER.JPG",    "summer.jpeg", "summer.jpg.bak",     "jpg",   ".jpg",      "b.jpg",
       "holiday.2.jpg", "Trip.Jpg",    "my trip; day 1.jpg", ".",     "..",        "a.jpgx",
       "a.jpg ",        "x.jpg.jpg",   "main.ani",           "B.jpg", "album.jpg", "_.jpg",
       "Z.jpg",         "b.jpg"});
  FakeRunStore runs;
  Listing listing = searchAll(&dir, &runs);
  EXPECT_EQ(listing.end, SearchStatus::kNoEntry);
  EXPECT_EQ(listing.names,
            (Names{".jpg", "album.jpg", "B.jpg", "b.jpg", "holiday.2.jpg", "my trip; day 1.jpg",
                   "SUMMER.JPG", "Trip.Jpg", "x.jpg.jpg", "Z.jpg", "_.jpg"}));
  EXPECT_EQ(listing.passes, 1);
  EXPECT_EQ(listing.runs, 0u);  // it fits: nothing set aside
  EXPECT_EQ(runs.appends, 0);
  EXPECT_FALSE(dir.isOpen);

  FakeDirectory empty({".", ".."});
  EXPECT_EQ(searchAll(&empty).end, SearchStatus::kNoEntry);
}

TEST(PictureSearchTest, AnyBudgetGivesTheSameOrderInRunsOrBatches) {
  const Names names = manyNames(600);
  FakeDirectory all(names);
  const Listing whole = searchAll(&all);
  EXPECT_EQ(whole.passes, 1);
  expectStrictlyIncreasing(whole.names);
  EXPECT_LT(whole.names.size(), names.size() * 2 / 3);  // twins yielded once
  EXPECT_GT(whole.names.size(), names.size() / 3);

  // A store that fails at once, or at its second run, leaves batches listed again instead.
  for (int failAppendAt : {-1, 1, 100000}) {
    for (size_t budget : {1, 60, 500, 5000}) {
      FakeDirectory dir(names);
      FakeRunStore runs;
      runs.failAppendAt = failAppendAt;
      runs.failCreate = failAppendAt == 100000;
      const std::string at =
          "budget " + std::to_string(budget) + ", fail at " + std::to_string(failAppendAt);
      Listing listing = searchAll(&dir, &runs, budget);
      EXPECT_EQ(listing.end, SearchStatus::kNoEntry) << at;
      EXPECT_EQ(listing.names, whole.names) << at;
      EXPECT_EQ(listing.passes > 1, failAppendAt != -1) << at;
      EXPECT_EQ(listing.runs > 1, failAppendAt == -1) << at;
      EXPECT_EQ(runs.bytes, "") << at;
      EXPECT_FALSE(dir.isOpen) << at;
    }
  }
}

TEST(PictureSearchTest, FailuresYieldWhatWasReadThenFail) {
  FakeDirectory locked({"a.jpg"});
  locked.failOpenAtPass = 0;
  Listing listing = searchAll(&locked);
  EXPECT_EQ(listing.end, SearchStatus::kFailed);
  EXPECT_TRUE(listing.names.empty());
  EXPECT_EQ(listing.error, "cannot read the current directory: Permission denied");

  FakeDirectory partial({"c.jpg", "x.txt", "a.jpg", "b.jpg"});
  partial.failReadAtPass = 0;
  partial.failReadAfter = 3;
  listing = searchAll(&partial);
  EXPECT_EQ(listing.names, (Names{"a.jpg", "c.jpg"}));
  EXPECT_EQ(listing.end, SearchStatus::kFailed);
  EXPECT_EQ(listing.error, "cannot read the current directory: Input/output error");
  EXPECT_FALSE(partial.isOpen);

  FakeDirectory unclosable({"b.jpg", "a.jpg"});
  unclosable.failClose = true;
  listing = searchAll(&unclosable);
  EXPECT_EQ(listing.names, (Names{"a.jpg", "b.jpg"}));
  EXPECT_EQ(listing.error, "cannot read the current directory: Bad file descriptor");

  // In a later pass, after runs were set aside, or while they are read back: what came before,
  // still in order.
  const Names names = manyNames(200);
  for (int mode = 0; mode < 4; ++mode) {
    FakeDirectory dir(names);
    if (mode < 3) (mode == 1 ? dir.failOpenAtPass : dir.failReadAtPass) = mode < 2 ? 2 : 0;
    dir.failReadAfter = 150;
    FakeRunStore runs;
    runs.failReadAt = mode == 3 ? 20 : -1;
    listing = searchAll(&dir, mode < 2 ? nullptr : &runs, 300);
    EXPECT_EQ(listing.end, SearchStatus::kFailed) << mode;
    EXPECT_EQ(listing.passes, mode < 2 ? 3 : 1) << mode;
    EXPECT_GT(listing.names.size(), 2u) << mode;
    EXPECT_LT(listing.names.size(), 150u) << mode;
    expectStrictlyIncreasing(listing.names);
    EXPECT_FALSE(dir.isOpen);
  }
  EXPECT_EQ(listing.error, "cannot read back the names set aside: No space left on device");
}

TEST(PictureSearchTest, EntriesThatComeAndGoBetweenPasses) {
  Names before;
  for (int i = 10; i < 60; ++i) before.push_back("f" + std::to_string(i) + ".jpg");
  Names after = before;
  after.erase(after.begin() + 40);       // f50 goes before it is yielded
  after.push_back("a.jpg");              // below what was yielded: too late
  after.push_back("g.jpg");              // above: yielded in its place,
  after.insert(after.begin(), "g.jpg");  // once though listed twice
  FakeDirectory dir;
  dir.listings = {before, after};
  Listing listing = searchAll(&dir, nullptr, 200);
  ASSERT_GT(listing.passes, 2);
  EXPECT_EQ(listing.end, SearchStatus::kNoEntry);
  Names expected = before;
  expected.erase(expected.begin() + 40);
  expected.push_back("g.jpg");
  EXPECT_EQ(listing.names, expected);

  // Set aside in runs, the listing is read once: what it held then, twins once.
  FakeDirectory once;
  once.listings = {after, before};
  FakeRunStore runs;
  listing = searchAll(&once, &runs, 200);
  EXPECT_EQ(listing.passes, 1);
  expected = after;
  expected.erase(expected.begin());
  std::sort(expected.begin(), expected.end(),
            [](const std::string& a, const std::string& b) { return compareNames(a, b) < 0; });
  EXPECT_EQ(listing.names, expected);
}

}  // namespace
}  // namespace mkani
