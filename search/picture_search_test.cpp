#include "search/picture_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <random>
#include <tuple>

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

// What a search yields, and how it ended: "" after the last name, else the reason it failed.
// Then how it listed: "batches" when it listed more than once, "runs" when it set runs aside;
// the bytes its matches take with 16 for each; the matches no name could open, and their count.
struct Listing {
  Names names;
  std::string end, how;
};

Listing searchAll(DirectorySource* dir, RunStore* runs, size_t budget) {
  PictureSearch search(dir, runs, budget);
  PictureEntry entry;
  Listing listing;
  SearchStatus status = search.first("*.jpg", &entry, &listing.end);
  for (; status == SearchStatus::kEntry; status = search.next(&entry, &listing.end))
    listing.names.emplace_back(entry.name);
  EXPECT_EQ(status == SearchStatus::kFailed, !listing.end.empty());
  listing.how = std::string(search.passes() > 1 ? "batches" : "") + (search.runs() ? "runs" : "") +
                " " + std::to_string(search.matchBytes() + 16 * search.matches());
  for (const std::string& name : search.unwritable()) listing.how += " " + name;
  listing.how += " " + std::to_string(search.unwritableCount());
  search.close();
  return listing;
}

// The pictures among `names` in name order, each once.
Names pictures(Names names) {
  const auto none = [](auto& n) { return n[0] == '?' || !Wildcard("*.jpg").matches(n); };
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

TEST(PictureSearchTest, AnyBudgetGivesTheSameNamesInOrderAndFailuresYieldWhatWasReadThenFail) {
  // A store that works, or fails once runs were set aside or at its first write (as one that
  // cannot be made does): batches listed again then.
  // A folder that fits, to the byte, is listed once and sets nothing aside.
  const Names names = manyNames(600);
  size_t need = 0;  // for every picture listed, its name and its reference
  for (const std::string& name : names) need += pictures({name}).size() * (name.size() + 16);
  for (int failAppendAt : {-1, 6, 0}) {
    for (size_t budget : {size_t{1}, size_t{60}, size_t{500}, size_t{5000}, need}) {
      FakeDirectory dir(names);
      FakeRunStore runs;
      runs.failAppendAt = failAppendAt;
      Listing listing = searchAll(&dir, &runs, budget);
      EXPECT_EQ(listing.names, pictures(names)) << budget << " " << failAppendAt;
      // Listed once and nothing set aside, or once in runs, or in batches and no runs; every
      // match counted, twins too.
      const std::string way = need <= budget ? "" : failAppendAt == -1 ? "runs" : "batches";
      EXPECT_EQ(listing.how, way + " " + std::to_string(need) + " ?.jpg 1");
      EXPECT_EQ(listing.end + runs.bytes + (dir.isOpen ? "open" : ""), "");
      EXPECT_EQ(runs.removes, way == "batches" ? 2 : 1);  // a store that failed at once, too
      // At 5000 bytes, in writes of 625 bytes at most.
      EXPECT_TRUE(budget != 5000 || (runs.appends < 50 && runs.largest <= 625));
      // Each batch after the split holds between half the budget and the budget.
      EXPECT_TRUE(way != "batches" || budget < 500 ||
                  (dir.passes * budget >= need && dir.passes * budget <= 2 * (need + budget)));
    }
  }
  // A name longer than half the budget comes to a full batch: it is split, all but its last name
  // fitting half the budget kept, and the name, below the cutoff, goes into it past the budget; a
  // second pass lists the rest.
  FakeDirectory few({"a.jpg", "b.jpg", "c.jpg", "b" + std::string(40, 'n') + ".jpg"});
  EXPECT_TRUE(searchAll(&few, nullptr, 84).names == pictures(few.names) && few.passes == 2);
  // On disk: the folder's names, and runs in a scratch file that no listing shows and that goes
  // with the search.
  ScopedTempDir temp;
  for (const char* name : {"b.jpg", "A.JPG", "c.jpg", "d.txt"}) writeFile(name);
  DiskDirectorySource folder;
  DiskRunStore disk;
  errno = EINTR;  // left by an earlier call: no failure of the listing
  EXPECT_TRUE(searchAll(&folder, &disk, 30).names == (Names{"A.JPG", "b.jpg", "c.jpg"}) &&
              entryCount() == 4);
  // Where the listing or the store fails, in the first pass, a later one, or while runs are
  // read back: the names yielded before it, in order, then the failure.
  const std::string listing = "cannot read the current directory: ";
  // Which pass fails to open, which to read, whether closing fails, which read of the store
  // fails (-1: no store), and the reason.
  const std::tuple<int, int, bool, int, std::string> cases[] = {
      {0, -1, false, -1, listing + "Permission denied"},
      {-1, -1, true, -1, listing + "Bad file descriptor"},
      {-1, 2, false, -1, listing + "Input/output error"},
      {-1, -1, false, 60, "cannot read back the names set aside: No space left on device"},
      {-1, -1, false, 1, "cannot read back the names set aside: No space left on device"},
  };
  for (const auto& [openAt, readAt, failClose, storeReadAt, error] : cases) {
    FakeDirectory dir(manyNames(2000));  // runs longer than their read buffers
    dir.failOpenAtPass = openAt;
    dir.failReadAtPass = readAt;
    dir.failClose = failClose;
    FakeRunStore runs;
    runs.failReadAt = storeReadAt;
    Listing got = searchAll(&dir, storeReadAt < 0 ? nullptr : &runs, 3000);
    EXPECT_EQ(got.end, error);
    EXPECT_EQ(got.names.empty(), openAt == 0 || storeReadAt == 1) << error;
    EXPECT_EQ(got.names, pictures(got.names)) << error;
  }
}

// Lists its names in every pass, taking no memory.
struct QuietDirectory : DirectorySource {
  bool open(const char* /*pattern*/, std::string* /*err*/) override { return read_ = 0, true; }
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
  FakeDirectory dir(manyNames(600));
  TruncatedStore runs;
  const Listing got = searchAll(&dir, &runs, 3000);
  EXPECT_EQ(got.end, "cannot read back the names set aside: the file ends early");
}

}  // namespace mkani
