#include "search/picture_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "test/fake_directory.h"

namespace mkani {
namespace {

struct Listing {
  std::vector<std::string> names;
  SearchStatus end;
  std::string error;
};

// Everything a search over `dir` yields, and how it ended.
Listing searchAll(DirectorySource* dir, size_t budget = PictureSearch::kDefaultBudget,
                  int* passes = nullptr) {
  PictureSearch search(dir, budget);
  PictureEntry entry;
  Listing listing;
  SearchStatus status = search.first("*.jpg", &entry, &listing.error);
  while (status == SearchStatus::kEntry) {
    listing.names.emplace_back(entry.name);
    status = search.next(&entry, &listing.error);
  }
  listing.end = status;
  if (passes) *passes = search.passes();
  search.close();
  return listing;
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return compareNames(a, b) < 0; });
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

// The names of `names` that end in ".jpg" in any letter case, in name order, each once.
std::vector<std::string> expectedPictures(const std::vector<std::string>& names) {
  std::vector<std::string> pictures;
  for (const std::string& name : names) {
    std::string end = name.substr(name.size() < 4 ? 0 : name.size() - 4);
    for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (end == ".jpg") pictures.push_back(name);
  }
  return sorted(pictures);
}

std::vector<std::string> manyNames(size_t count) {
  std::mt19937 random(7);
  std::vector<std::string> names;
  for (size_t i = 0; i < count; ++i) {
    std::string name = "frame_" + std::to_string(random() % (count / 2));
    names.push_back(name + (i % 3 == 0 ? ".JPG" : i % 3 == 1 ? ".jpg" : ".txt"));
  }
  return names;
}

TEST(PictureSearchTest, YieldsNamesEndingInJpgInNameOrder) {
  FakeDirectory dir({"SUMMER.JPG", "summer.jpeg", "summer.jpg.bak", "jpg", ".jpg", "b.jpg",
                     "holiday.2.jpg", "Trip.Jpg", "my trip; day 1.jpg", ".", "..", "a.jpgx",
                     "main.ani", "B.jpg", "album.jpg", "_.jpg", "Z.jpg"});
  Listing listing = searchAll(&dir);
  EXPECT_EQ(listing.end, SearchStatus::kNoEntry);
  EXPECT_EQ(listing.names, (std::vector<std::string>{".jpg", "album.jpg", "B.jpg", "b.jpg",
                                                     "holiday.2.jpg", "my trip; day 1.jpg",
                                                     "SUMMER.JPG", "Trip.Jpg", "Z.jpg", "_.jpg"}));
  EXPECT_EQ(dir.passes, 1);
  EXPECT_FALSE(dir.isOpen);
}

TEST(PictureSearchTest, EmptyListingAndListingThatCannotStart) {
  FakeDirectory empty({".", ".."});
  EXPECT_EQ(searchAll(&empty).end, SearchStatus::kNoEntry);

  FakeDirectory locked({"a.jpg"});
  locked.failOpenAtPass = 0;
  Listing listing = searchAll(&locked);
  EXPECT_TRUE(listing.names.empty());
  EXPECT_EQ(listing.end, SearchStatus::kFailed);
  EXPECT_EQ(listing.error, "cannot read the current directory: Permission denied");
}

TEST(PictureSearchTest, AnyBudgetGivesTheSameOrderInBatches) {
  const std::vector<std::string> names = manyNames(600);
  const std::vector<std::string> expected = expectedPictures(names);
  ASSERT_LT(expected.size(), names.size() * 2 / 3);  // the listing holds twins

  for (size_t budget : {size_t{1}, size_t{40}, size_t{500}, size_t{20000}, size_t{1} << 20}) {
    FakeDirectory dir(names);
    int passes = 0;
    Listing listing = searchAll(&dir, budget, &passes);
    EXPECT_EQ(listing.end, SearchStatus::kNoEntry);
    EXPECT_EQ(listing.names, expected) << "budget " << budget;
    if (budget < 20000) {
      EXPECT_GT(passes, 1) << "budget " << budget;
    } else if (budget >= size_t{1} << 20) {
      EXPECT_EQ(passes, 1);
    }
    EXPECT_FALSE(dir.isOpen);
  }
}

TEST(PictureSearchTest, FailureInTheFirstPassYieldsWhatWasReadThenFails) {
  FakeDirectory dir({"c.jpg", "x.txt", "a.jpg", "b.jpg"});
  dir.failReadAtPass = 0;
  dir.failReadAfter = 3;
  Listing listing = searchAll(&dir);
  EXPECT_EQ(listing.names, (std::vector<std::string>{"a.jpg", "c.jpg"}));
  EXPECT_EQ(listing.end, SearchStatus::kFailed);
  EXPECT_EQ(listing.error, "cannot read the current directory: Input/output error");
  EXPECT_FALSE(dir.isOpen);

  FakeDirectory unclosable({"b.jpg", "a.jpg"});
  unclosable.failClose = true;
  listing = searchAll(&unclosable);
  EXPECT_EQ(listing.names, (std::vector<std::string>{"a.jpg", "b.jpg"}));
  EXPECT_EQ(listing.end, SearchStatus::kFailed);
  EXPECT_EQ(listing.error, "cannot read the current directory: Bad file descriptor");
}

TEST(PictureSearchTest, FailureInALaterPassKeepsTheOrder) {
  const std::vector<std::string> names = manyNames(200);
  const std::vector<std::string> expected = expectedPictures(names);
  for (bool failOpen : {false, true}) {
    FakeDirectory dir(names);
    if (failOpen) {
      dir.failOpenAtPass = 2;
    } else {
      dir.failReadAtPass = 2;
      dir.failReadAfter = 150;
    }
    int passes = 0;
    Listing listing = searchAll(&dir, 300, &passes);
    EXPECT_EQ(listing.end, SearchStatus::kFailed);
    EXPECT_EQ(passes, 3);
    ASSERT_FALSE(listing.names.empty());
    ASSERT_LE(listing.names.size(), expected.size());
    EXPECT_LT(listing.names.size(), expected.size() / 3);
    // A pass that cannot start leaves whole batches behind it: the start of the full order.
    // One that fails part-way adds what it read, still in order.
    if (failOpen) {
      EXPECT_TRUE(std::equal(listing.names.begin(), listing.names.end(), expected.begin()));
    }
    for (size_t i = 1; i < listing.names.size(); ++i) {
      EXPECT_LT(compareNames(listing.names[i - 1], listing.names[i]), 0) << listing.names[i];
    }
    EXPECT_FALSE(dir.isOpen);
  }
}

TEST(PictureSearchTest, EntriesThatComeAndGoBetweenPasses) {
  std::vector<std::string> before;
  for (int i = 10; i < 60; ++i) before.push_back("f" + std::to_string(i) + ".jpg");
  std::vector<std::string> after = before;
  after.erase(after.begin() + 40);            // f50 goes before it is yielded
  after.push_back("a.jpg");                   // below what was yielded: too late
  after.push_back("g.jpg");                   // above: yielded in its place
  after.insert(after.begin(), after.back());  // and listed twice
  FakeDirectory dir;
  dir.listings = {before, after};
  int passes = 0;
  Listing listing = searchAll(&dir, 200, &passes);
  ASSERT_GT(passes, 2);
  EXPECT_EQ(listing.end, SearchStatus::kNoEntry);

  EXPECT_EQ(std::count(listing.names.begin(), listing.names.end(), "a.jpg"), 0);
  EXPECT_EQ(std::count(listing.names.begin(), listing.names.end(), "f50.jpg"), 0);
  EXPECT_EQ(std::count(listing.names.begin(), listing.names.end(), "g.jpg"), 1);
  EXPECT_EQ(listing.names.front(), "f10.jpg");
  EXPECT_EQ(listing.names.size(), before.size());  // one gone, one come
  for (size_t i = 1; i < listing.names.size(); ++i) {
    EXPECT_LT(compareNames(listing.names[i - 1], listing.names[i]), 0) << listing.names[i];
  }
}

}  // namespace
}  // namespace mkani
