#include "search/picture_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <new>
#include <random>
#include <regex>

#include "test/test_util.h"

// Memory taken while `counting`, counted for the test of the search's memory.
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

// Returns the names that `search` yields for "*.jpg", and sets *end to "" after the last one, else
// to the reason it failed. Closes the search.
Names yieldAll(PictureSearch* search, std::string* end) {
  Names names;
  PictureEntry entry;
  SearchStatus status = search->first("*.jpg", &entry, end);
  for (; status == SearchStatus::kEntry; status = search->next(&entry, end)) {
    names.emplace_back(entry.name);
  }
  EXPECT_EQ(status == SearchStatus::kFailed, !end->empty());
  search->close();
  return names;
}

// Returns whether the search yields `name`: it ends in ".jpg" in any letter case, and the script
// could open it.
bool isPicture(const std::string& name) {
  static const std::regex picture(R"((?!\?).*\.jpg)", std::regex::icase);
  return std::regex_match(name, picture);
}

// The pictures among `names` in name order, each once.
Names pictures(Names names) {
  names.erase(std::remove_if(names.begin(), names.end(), std::not_fn(isPicture)), names.end());
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

TEST(PictureSearchTest, AnyBudgetAndStoreGiveEveryPictureOnceInOrderAndCountThemAll) {
  const Names folder = manyNames(600);
  // Each picture listed, twins too, and the bytes of their names; a batch holds each name with a
  // reference.
  uint64_t matches = 0;
  uint64_t matchBytes = 0;
  for (const std::string& name : folder) {
    if (!isPicture(name)) continue;
    ++matches;
    matchBytes += name.size();
  }
  const size_t fits = matchBytes + matches * sizeof(NameRef);  // to the byte
  // A store that works, one that fails once runs were set aside, and one that fails at its first
  // write, as one that cannot be made does; budgets of a name at a time, a few names, batches.
  for (int failAppendAt : {-1, 6, 0}) {
    for (size_t budget : {size_t{1}, size_t{60}, size_t{500}, size_t{5000}, fits}) {
      SCOPED_TRACE(testing::Message()
                   << "budget " << budget << ", append fails at " << failAppendAt);
      FakeDirectory dir(folder);
      FakeRunStore runs;
      runs.failAppendAt = failAppendAt;
      PictureSearch search(&dir, &runs, budget);
      std::string end;
      EXPECT_EQ(yieldAll(&search, &end), pictures(folder));
      EXPECT_EQ(end, "");
      EXPECT_EQ(search.matches(), matches);
      EXPECT_EQ(search.matchBytes(), matchBytes);
      EXPECT_EQ(search.unwritable(), Names{"?.jpg"});
      EXPECT_EQ(search.unwritableCount(), 1u);
      EXPECT_FALSE(dir.isOpen);
      if (budget == fits) {  // listed once, nothing set aside
        EXPECT_EQ(search.passes(), 1);
        EXPECT_EQ(search.runs(), 0u);
      } else if (failAppendAt == -1) {  // listed once in runs, removed by close
        EXPECT_EQ(search.passes(), 1);
        EXPECT_GT(search.runs(), 1u);
        EXPECT_EQ(runs.removes, 1);
      } else {  // listed again for each batch
        EXPECT_GT(search.passes(), 2);
        EXPECT_EQ(search.runs(), 0u);
        EXPECT_EQ(runs.removes, 2);  // when the append failed, and by close
        // Past the pass that failed, each batch holds between half the budget and the budget,
        // where that is more than a name or two.
        const size_t batches = search.passes() - 1;
        if (budget >= 500) {
          EXPECT_GE(batches * budget, fits);
          EXPECT_LE(batches * budget, 2 * (fits + budget));
        }
      }
    }
  }
}

TEST(PictureSearchTest, AFullBatchIsSplitAndANameLongerThanHalfTheBudgetGoesPastIt) {
  // The long name comes to a full batch: all but its last name fitting half the budget are kept,
  // and the name, below the cutoff, goes into it past the budget; a second pass lists the rest.
  FakeDirectory dir({"a.jpg", "b.jpg", "c.jpg", "b" + std::string(40, 'n') + ".jpg"});
  PictureSearch search(&dir, nullptr, 84);
  std::string end;
  EXPECT_EQ(yieldAll(&search, &end), pictures(dir.names));
  EXPECT_EQ(search.passes(), 2);
}

TEST(PictureSearchTest, OnDiskRunsGoInAScratchFileThatNoListingShowsAndThatGoesWithTheSearch) {
  ScopedTempDir temp;
  for (const char* name : {"b.jpg", "A.JPG", "c.jpg", "d.txt"}) writeFile(name);
  DiskDirectorySource folder;
  DiskRunStore disk;
  const long open = openFiles();
  PictureSearch search(&folder, &disk, 30);
  errno = EINTR;  // left by an earlier call: no failure of the listing
  std::string end;
  EXPECT_EQ(yieldAll(&search, &end), (Names{"A.JPG", "b.jpg", "c.jpg"}));
  EXPECT_EQ(end, "");
  EXPECT_GT(search.runs(), 0u);
  EXPECT_EQ(entryCount(), 4);
  EXPECT_EQ(openFiles(), open) << "the runs' file is still open";
}

TEST(PictureSearchTest, AFailureYieldsTheNamesReadBeforeItInOrderThenTheReason) {
  // Where the listing or the store fails, in the first pass, a later one, or while runs are read
  // back at the start of the merge or later. Passes and reads count from 0, -1 failing none; a
  // store read of -1 means no store.
  const std::string listing = "cannot read the current directory: ";
  const std::string readBack = "cannot read back the names set aside: ";
  struct Fault {
    int openFailsAtPass;
    int readFailsAtPass;
    int storeReadFailsAt;
    bool closeFails;
    std::string error;
    bool yieldsNone;
  };
  const Fault faults[] = {
      {0, -1, -1, false, listing + "Permission denied", true},
      {-1, -1, -1, true, listing + "Bad file descriptor", false},
      {-1, 2, -1, false, listing + "Input/output error", false},
      {-1, -1, 60, false, readBack + "No space left on device", false},
      {-1, -1, 1, false, readBack + "No space left on device", true},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.error);
    FakeDirectory dir(manyNames(2000));  // runs longer than their read buffers
    dir.failOpenAtPass = fault.openFailsAtPass;
    dir.failReadAtPass = fault.readFailsAtPass;
    dir.failClose = fault.closeFails;
    FakeRunStore runs;
    runs.failReadAt = fault.storeReadFailsAt;
    PictureSearch search(&dir, fault.storeReadFailsAt >= 0 ? &runs : nullptr, 3000);
    std::string end;
    const Names got = yieldAll(&search, &end);
    EXPECT_EQ(end, fault.error);
    EXPECT_EQ(got.empty(), fault.yieldsNone);
    EXPECT_EQ(got, pictures(got));
  }
}

// Lists its names in every pass, taking no memory.
struct QuietDirectory : FakeDirectory {
  using FakeDirectory::FakeDirectory;
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
};

// Once the script may be open, the search takes no more memory: neither the merge of runs, with
// names longer than a run's smallest read buffer, nor the passes of a listing read again, where
// long names, then short ones, make later batches hold more names than the first.
TEST(PictureSearchTest, TakesNoMemoryOnceTheFirstNameIsYielded) {
  Names names;
  for (int k = 1000; k < 1300; ++k) {
    names.push_back((k < 1100 ? std::string(100, 'a') : "p") + std::to_string(k) + ".jpg");
  }
  FakeRunStore runs;
  for (RunStore* store : std::initializer_list<RunStore*>{&runs, nullptr}) {
    QuietDirectory dir(names);
    PictureSearch search(&dir, store, 1000);
    PictureEntry entry;
    std::string err;
    SearchStatus status = search.first("*.jpg", &entry, &err);
    allocations = 0;
    counting = true;
    size_t yielded = 0;
    for (; status == SearchStatus::kEntry; status = search.next(&entry, &err)) ++yielded;
    counting = false;
    EXPECT_EQ(allocations, 0) << store;
    EXPECT_EQ(yielded, names.size()) << store;
  }
  EXPECT_GT(runs.appends, 1);
}

}  // namespace mkani
