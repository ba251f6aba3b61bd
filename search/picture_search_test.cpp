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

// The pictures among `names` in name order, each once.
Names pictures(Names names) {
  const auto less = [](const std::string& a, const std::string& b) {
    return compareNames(a, b) < 0;
  };
  names.erase(
      std::remove_if(names.begin(), names.end(),
                     [](const std::string& name) { return !Wildcard("*.jpg").matches(name); }),
      names.end());
  std::sort(names.begin(), names.end(), less);
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

// Frame names with twins, twins but for letter case, and names that are no pictures.
Names manyNames(size_t count) {
  std::mt19937 random(7);
  Names names;
  for (size_t i = 0; i < count; ++i) {
    const char* ends[] = {".JPG", ".jpg", ".txt"};
    names.push_back("frame_" + std::to_string(random() % (count / 2)) + ends[i % 3]);
  }
  names.push_back(std::string(300, 'L') + ".jpg");  // longer than a run's read buffer
  names.push_back(std::string(300, 'L') + "_.jpg");
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
  EXPECT_EQ(listing.passes + listing.runs + runs.appends, 1u);  // it fits: nothing set aside
  EXPECT_FALSE(dir.isOpen);
}

TEST(PictureSearchTest, AnyBudgetGivesTheSameOrderInRunsOrBatches) {
  const Names names = manyNames(600);
  // A store that works, fails at its second run, or cannot be made: batches listed again then.
  for (int failAppendAt : {-1, 1, 1000}) {
    for (size_t budget :
         std::initializer_list<size_t>{1, 60, 500, 5000, PictureSearch::kDefaultBudget}) {
      FakeDirectory dir(names);
      FakeRunStore runs;
      runs.failAppendAt = failAppendAt;
      runs.failCreate = failAppendAt == 1000;
      Listing listing = searchAll(&dir, &runs, budget);
      const std::string at = std::to_string(budget) + " " + std::to_string(failAppendAt);
      EXPECT_EQ(listing.end, SearchStatus::kNoEntry) << at;
      EXPECT_EQ(listing.names, pictures(names)) << at;
      const bool fits = budget == PictureSearch::kDefaultBudget;
      EXPECT_EQ(listing.passes > 1, !fits && failAppendAt != -1) << at;
      EXPECT_EQ(listing.runs > 1, !fits && failAppendAt == -1) << at;
      EXPECT_EQ(runs.bytes + (dir.isOpen ? "open" : ""), "") << at;
    }
  }
}

TEST(PictureSearchTest, FailuresYieldWhatWasReadThenFail) {
  // Where the listing or the store fails, in the first pass, a later one, or while runs are
  // read back: every name yielded before it, in order, then the failure.
  const std::string listing = "cannot read the current directory: ";
  const struct {
    int openAt, readAt;
    bool failClose;
    int storeReadAt;  // -1: no store
    size_t most;
    std::string error;
  } cases[] = {
      {0, -1, false, -1, 0, listing + "Permission denied"},
      {-1, 0, false, -1, 90, listing + "Input/output error"},
      {-1, -1, true, -1, 200, listing + "Bad file descriptor"},
      {2, -1, false, -1, 100, listing + "Permission denied"},
      {-1, 2, false, -1, 150, listing + "Input/output error"},
      {-1, 0, false, 1000, 90, listing + "Input/output error"},
      {-1, -1, false, 20, 100, "cannot read back the names set aside: No space left on device"},
  };
  for (const auto& c : cases) {
    FakeDirectory dir(manyNames(200));
    dir.failOpenAtPass = c.openAt;
    dir.failReadAtPass = c.readAt;
    dir.failReadAfter = 120;
    dir.failClose = c.failClose;
    FakeRunStore runs;
    runs.failReadAt = c.storeReadAt;
    Listing got = searchAll(&dir, c.storeReadAt < 0 ? nullptr : &runs, 300);
    EXPECT_EQ(got.end, SearchStatus::kFailed) << c.error;
    EXPECT_EQ(got.error, c.error);
    EXPECT_LE(got.names.size(), c.most) << c.error;
    EXPECT_GE(got.names.size(), c.most ? 3u : 0u) << c.error;
    EXPECT_EQ(got.names, pictures(got.names)) << c.error;
    EXPECT_FALSE(dir.isOpen) << c.error;
  }
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
  EXPECT_EQ(listing.names, pictures(after));
}

}  // namespace
}  // namespace mkani
