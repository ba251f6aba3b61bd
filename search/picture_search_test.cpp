#include "search/picture_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>
#include <new>
#include <random>

#include "test/test_util.h"

// Memory taken while `counting`, counted for the tests below.
namespace {
bool counting = false;
long allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  allocations += counting;
  if (void* taken = std::malloc(size > 0 ? size : 1)) return taken;
  throw std::bad_alloc();
}
// GCC takes the free below for one of memory from the standard operator new.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void* taken) noexcept {
  std::free(taken);
}
void operator delete(void* taken, std::size_t /*size*/) noexcept {
  std::free(taken);
}

namespace mkani {

using Names = std::vector<std::string>;

// What a search yields, how it ended ("" after the last name, else the reason it failed), and
// what it says of the listing once done.
struct Listing {
  Names names;
  std::string end;
  int passes = 0;
  size_t runs = 0;
  uint64_t matches = 0;
  uint64_t matchBytes = 0;
  Names unwritable;
  size_t unwritableCount = 0;
};

Listing searchAll(DirectorySource* dir, RunStore* runs, size_t budget) {
  PictureSearch search(dir, runs, budget);
  PictureEntry entry;
  Listing listing;
  SearchStatus status = search.first("*.jpg", &entry, &listing.end);
  for (; status == SearchStatus::kEntry; status = search.next(&entry, &listing.end)) {
    listing.names.emplace_back(entry.name);
  }
  EXPECT_EQ(status == SearchStatus::kFailed, !listing.end.empty());
  listing.passes = search.passes();
  listing.runs = search.runs();
  listing.matches = search.matches();
  listing.matchBytes = search.matchBytes();
  listing.unwritable = search.unwritable();
  listing.unwritableCount = search.unwritableCount();
  search.close();
  return listing;
}

// Returns whether `name` is a picture that the search yields.
bool isPicture(const std::string& name) {
  return name[0] != '?' && Wildcard("*.jpg").matches(name);
}

// The pictures among `names` in name order, each once.
Names pictures(Names names) {
  const auto none = [](const std::string& name) { return !isPicture(name); };
  names.erase(std::remove_if(names.begin(), names.end(), none), names.end());
  std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return compareNames(a, b) < 0; });
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

// Frame names with twins, twins but for letter case, names that are no pictures (".jpeg",
// ".jpg.bak", "a.jpgx" and ".jpg " among them), two longer than a run's smallest read buffer, and
// one that no name in the script could open.
Names manyNames(size_t count) {
  std::mt19937 random(7);
  const std::string l(300, 'L');
  Names names = {"summer.jpeg", "summer.jpg.bak", "jpg",    ".jpg",      ".",
                 "..",          "a.jpgx",         "a.jpg ", "x.jpg.jpg", "main.ani",
                 l + ".jpg",    l + "_.jpg",      "?.jpg"};
  for (size_t i = 0; i < count; ++i) {
    const char* ends[] = {".JPG", ".jpg", ".txt"};
    names.push_back("frame_" + std::to_string(random() % (count / 2)) + ends[i % 3]);
  }
  return names;
}

// The folder of the tests over budgets, and what its pictures take: each listed one, twins too,
// and the bytes of their names, which a batch holds with a reference each.
const Names kFolder = manyNames(600);

uint64_t folderMatches() {
  return std::count_if(kFolder.begin(), kFolder.end(), isPicture);
}

uint64_t folderMatchBytes() {
  uint64_t bytes = 0;
  for (const std::string& name : kFolder) {
    if (isPicture(name)) bytes += name.size();
  }
  return bytes;
}

// A budget that holds the folder's pictures to the byte.
size_t folderBudget() {
  return folderMatchBytes() + folderMatches() * sizeof(NameRef);
}

// The budgets smaller than the folder: a name at a time, a few names, and batches.
const size_t kSmallBudgets[] = {1, 60, 500, 5000};

// The stores: one that works, one that fails once runs were set aside, and one that fails at its
// first write, as one that cannot be made does.
const int kWorks = -1;
const int kFailAppendAt[] = {kWorks, 6, 0};

TEST(PictureSearchTest, AnyBudgetAndStoreGiveEveryPictureOnceInOrderAndCountThemAll) {
  std::vector<size_t> budgets(std::begin(kSmallBudgets), std::end(kSmallBudgets));
  budgets.push_back(folderBudget());
  for (int failAppendAt : kFailAppendAt) {
    for (size_t budget : budgets) {
      FakeDirectory dir(kFolder);
      FakeRunStore runs;
      runs.failAppendAt = failAppendAt;
      const Listing listing = searchAll(&dir, &runs, budget);
      SCOPED_TRACE(testing::Message()
                   << "budget " << budget << ", append fails at " << failAppendAt);
      EXPECT_EQ(listing.names, pictures(kFolder));
      EXPECT_EQ(listing.end, "");
      EXPECT_EQ(listing.matches, folderMatches());
      EXPECT_EQ(listing.matchBytes, folderMatchBytes());
      EXPECT_EQ(listing.unwritable, Names{"?.jpg"});
      EXPECT_EQ(listing.unwritableCount, 1u);
      EXPECT_EQ(runs.bytes, "");  // removed by close
      EXPECT_FALSE(dir.isOpen);
    }
  }
}

TEST(PictureSearchTest, AFolderThatFitsTheBudgetToTheByteIsListedOnceAndSetsNothingAside) {
  for (int failAppendAt : kFailAppendAt) {
    FakeDirectory dir(kFolder);
    FakeRunStore runs;
    runs.failAppendAt = failAppendAt;
    const Listing listing = searchAll(&dir, &runs, folderBudget());
    EXPECT_EQ(listing.passes, 1) << failAppendAt;
    EXPECT_EQ(listing.runs, 0u) << failAppendAt;
    EXPECT_EQ(runs.appends, 0) << failAppendAt;
  }
}

TEST(PictureSearchTest, AFolderLargerThanTheBudgetIsListedOnceInRuns) {
  for (size_t budget : kSmallBudgets) {
    FakeDirectory dir(kFolder);
    FakeRunStore runs;
    const Listing listing = searchAll(&dir, &runs, budget);
    EXPECT_EQ(listing.passes, 1) << budget;
    EXPECT_GT(listing.runs, 1u) << budget;
    EXPECT_EQ(runs.removes, 1) << budget;  // by close
  }
}

TEST(PictureSearchTest, WhereRunsCannotBeSetAsideTheFolderIsListedAgainForEachBatch) {
  for (int failAppendAt : {6, 0}) {
    for (size_t budget : kSmallBudgets) {
      FakeDirectory dir(kFolder);
      FakeRunStore runs;
      runs.failAppendAt = failAppendAt;
      const Listing listing = searchAll(&dir, &runs, budget);
      SCOPED_TRACE(testing::Message()
                   << "budget " << budget << ", append fails at " << failAppendAt);
      EXPECT_GT(listing.passes, 2);
      EXPECT_EQ(listing.runs, 0u);
      EXPECT_EQ(runs.removes, 2);  // when the append failed, and by close
      // Past the pass that failed, each batch holds between half the budget and the budget, where
      // that is more than a name or two.
      if (budget >= 500) {
        const size_t batches = listing.passes - 1;
        EXPECT_GE(batches * budget, folderBudget());
        EXPECT_LE(batches * budget, 2 * (folderBudget() + budget));
      }
    }
  }
}

TEST(PictureSearchTest, AFullBatchIsSplitAndANameLongerThanHalfTheBudgetGoesPastIt) {
  // The long name comes to a full batch: all but its last name fitting half the budget are kept,
  // and the name, below the cutoff, goes into it past the budget; a second pass lists the rest.
  FakeDirectory dir({"a.jpg", "b.jpg", "c.jpg", "b" + std::string(40, 'n') + ".jpg"});
  const Listing listing = searchAll(&dir, nullptr, 84);
  EXPECT_EQ(listing.names, pictures(dir.names));
  EXPECT_EQ(listing.passes, 2);
}

TEST(PictureSearchTest, OnDiskRunsGoInAScratchFileThatNoListingShowsAndThatGoesWithTheSearch) {
  ScopedTempDir temp;
  for (const char* name : {"b.jpg", "A.JPG", "c.jpg", "d.txt"}) writeFile(name);
  DiskDirectorySource folder;
  DiskRunStore disk;
  errno = EINTR;  // left by an earlier call: no failure of the listing
  const Listing listing = searchAll(&folder, &disk, 30);
  EXPECT_EQ(listing.names, (Names{"A.JPG", "b.jpg", "c.jpg"}));
  EXPECT_GT(listing.runs, 0u);
  EXPECT_EQ(entryCount(), 4);
}

TEST(PictureSearchTest, AFailureYieldsTheNamesReadBeforeItInOrderThenTheReason) {
  // Where the listing or the store fails, in the first pass, a later one, or while runs are
  // read back. Passes and reads count from 0; -1 fails none, and a store read of -1 means no
  // store.
  const std::string listing = "cannot read the current directory: ";
  const std::string readBack = "cannot read back the names set aside: ";
  struct Fault {
    int openFailsAtPass;
    int readFailsAtPass;
    bool closeFails;
    int storeReadFailsAt;
    std::string error;
    bool yieldsNone;
  };
  const Fault faults[] = {
      {0, -1, false, -1, listing + "Permission denied", true},
      {-1, -1, true, -1, listing + "Bad file descriptor", false},
      {-1, 2, false, -1, listing + "Input/output error", false},
      {-1, -1, false, 60, readBack + "No space left on device", false},
      {-1, -1, false, 1, readBack + "No space left on device", true},
  };
  for (const Fault& fault : faults) {
    FakeDirectory dir(manyNames(2000));  // runs longer than their read buffers
    dir.failOpenAtPass = fault.openFailsAtPass;
    dir.failReadAtPass = fault.readFailsAtPass;
    dir.failClose = fault.closeFails;
    FakeRunStore runs;
    runs.failReadAt = fault.storeReadFailsAt;
    const bool hasStore = fault.storeReadFailsAt >= 0;
    const Listing got = searchAll(&dir, hasStore ? &runs : nullptr, 3000);
    EXPECT_EQ(got.end, fault.error);
    EXPECT_EQ(got.names.empty(), fault.yieldsNone) << fault.error;
    EXPECT_EQ(got.names, pictures(got.names)) << fault.error;
  }
}

// Lists its names in every pass, taking no memory.
struct QuietDirectory : DirectorySource {
  bool open(const char* /*pattern*/, std::string* /*err*/) override {
    read_ = 0;
    return true;
  }
  Status read(std::string_view* name, std::string* /*err*/) override {
    if (read_ == names.size()) return kEnd;
    *name = names[read_++];
    return kName;
  }
  bool close(std::string* /*err*/) override { return true; }
  Names names;
  size_t read_ = 0;
};

// Returns the memory a search over `names` takes once its first name is yielded.
long allocationsAfterFirst(const Names& names, RunStore* runs, size_t budget) {
  QuietDirectory dir;
  dir.names = names;
  PictureSearch search(&dir, runs, budget);
  PictureEntry entry;
  std::string err;
  SearchStatus status = search.first("*.jpg", &entry, &err);
  allocations = 0;
  counting = true;
  size_t yielded = 0;
  while (status == SearchStatus::kEntry) {
    ++yielded;
    status = search.next(&entry, &err);
  }
  counting = false;
  EXPECT_EQ(yielded, names.size());
  return allocations;
}

// Once the script may be open, the search takes no more memory: the merge of runs, with names
// longer than a run's smallest read buffer, and the passes of a listing read again.
TEST(PictureSearchTest, TakesNoMemoryOnceTheFirstNameIsYielded) {
  // Long names, then short ones: later batches hold more names than the first.
  Names longNames, mixed;
  for (int k = 0; k < 300; ++k) {
    longNames.push_back(std::string(100, 'n') + std::to_string(1000 + k) + ".jpg");
    mixed.push_back((k < 100 ? "a" + std::string(40, 'x') : "p") + std::to_string(1000 + k) +
                    ".jpg");
  }
  FakeRunStore runs;
  EXPECT_EQ(allocationsAfterFirst(longNames, &runs, 4000), 0);
  EXPECT_GT(runs.appends, 1);
  EXPECT_EQ(allocationsAfterFirst(mixed, nullptr, 1000), 0);
}

// A store of runs whose file lost its last bytes.
struct TruncatedStore : FakeRunStore {
  bool read(uint64_t at, char* data, size_t size, size_t* got, std::string* err) override {
    const uint64_t end = bytes.size() - 3;
    return FakeRunStore::read(at, data, at < end ? std::min<uint64_t>(size, end - at) : 0, got,
                              err);
  }
};

TEST(PictureSearchTest, AStoreOfRunsThatEndsEarlyIsAFailure) {
  FakeDirectory dir(kFolder);
  TruncatedStore runs;
  const Listing got = searchAll(&dir, &runs, 3000);
  EXPECT_EQ(got.end, "cannot read back the names set aside: the file ends early");
}

}  // namespace mkani
