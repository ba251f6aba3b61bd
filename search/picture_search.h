// The pictures of the current directory, one at a time, in name order.
#ifndef MKANI_SEARCH_PICTURE_SEARCH_H_
#define MKANI_SEARCH_PICTURE_SEARCH_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "search/directory_source.h"
#include "search/name_order.h"
#include "search/run_store.h"
#include "search/wildcard.h"

namespace mkani {

// One match: its name as stored in the directory, valid until the search's next call.
struct PictureEntry {
  std::string_view name;
};

enum class SearchStatus { kEntry, kNoEntry, kFailed };

// Yields the names matching a pattern in compareNames order, each once, strictly increasing.
// It holds at most `budget` bytes of names and their references. A listing too large for that
// is read once, in sorted runs set aside in a RunStore and merged at the end; without a store,
// or when setting a run aside fails, it is read again for each further batch instead, starting
// above the last name yielded.
class PictureSearch {
 public:
  // Room for a million names of twenty bytes; a process under 64 MiB with everything else.
  static constexpr size_t kDefaultBudget = size_t{36} << 20;

  // Lists through `dir`, setting runs aside in `runs` when it is not null.
  PictureSearch(DirectorySource* dir, RunStore* runs, size_t budget = kDefaultBudget);

  // Starts the search. Returns kEntry with the first match in *entry, kNoEntry when nothing
  // matches, or kFailed with the reason in *err when the directory cannot be listed.
  SearchStatus first(const char* pattern, PictureEntry* entry, std::string* err);

  // Returns kEntry with the next match in *entry, or kNoEntry after the last one. When the
  // listing failed part-way, it yields every match read before the failure and then returns
  // kFailed with the reason in *err; so it does when a run set aside cannot be read back.
  SearchStatus next(PictureEntry* entry, std::string* err);

  // Ends the search and removes the runs it set aside; its memory goes with the object.
  void close();

  // Returns how many times the directory has been listed so far.
  int passes() const { return passes_; }

  // Returns how many sorted runs were set aside.
  size_t runs() const { return runs_.size(); }

  // Once `first` has returned: the matches that no name in the script could open, as the user
  // reads them (at most kMostUnwritable of them), and how many there were in all.
  static constexpr size_t kMostUnwritable = 100;
  const std::vector<std::string>& unwritable() const { return unwritable_; }
  size_t unwritableCount() const { return unwritableCount_; }

  // Once `first` has returned: how many matches the listing held and how many bytes their
  // names take, at least what the search yields.
  uint64_t matches() const { return matches_; }
  uint64_t matchBytes() const { return matchBytes_; }

 private:
  // A sorted run set aside: where it lies in the store, and how far it has been merged.
  struct Run {
    uint64_t at, end;                // the next unread byte, and the end of the run
    std::unique_ptr<char[]> buffer;  // holds [pos, filled) of what was read
    size_t size = 0, pos = 0, filled = 0;
    std::string_view name;  // the run's smallest name not yet merged
  };

  // Reads one listing, keeping the matches above last_ (and below the cutoff) that fit the
  // budget. Returns false with the reason in error_ when the listing failed; what was kept stays.
  bool readPass();
  // Adds `name` to the batch. Returns false when it does not fit, unless `force` (or the batch
  // is empty), which grows the block past the budget.
  bool add(std::string_view name, bool force);
  // Moves the batch to a new block of `capacity` bytes.
  void grow(size_t capacity);
  // Sorts the batch and sets it aside as one run. Returns false when the store failed.
  bool spill();
  // Keeps the smallest names filling half the budget; the rest are left for a later pass.
  void prune();
  // Moves `run` on to its next name. Returns false with the reason in error_ when reading failed;
  // run.name is empty after its last name.
  bool advance(Run* run);
  // Sorts the batch, in scratch memory that the search keeps.
  void sort();
  // Reads the first name of every run and readies the merge.
  void startMerge();
  SearchStatus nextMerged(PictureEntry* entry, std::string* err);
  // Moves the merge source at the top of heap_ down to its place.
  void siftDown();
  // Returns the current name of merge source `source`: a run, or the batch after the last run.
  std::string_view sourceName(size_t source) const {
    return source < runs_.size() ? runs_[source].name : batchName_;
  }
  // Returns kFailed with the reason in *err, as every call after a failure does.
  SearchStatus failure(std::string* err);

  NameRef* refs() const { return reinterpret_cast<NameRef*>(block_.get() + capacity_) - count_; }

  DirectorySource* dir_;
  RunStore* store_;
  size_t budget_;
  Wildcard pattern_;
  int passes_ = 0;

  // The batch: name bytes from the front of the block, their references down from its end.
  std::unique_ptr<char[]> block_;
  size_t capacity_ = 0;
  size_t used_ = 0;   // bytes of names
  size_t count_ = 0;  // references, sorted once the pass is over
  size_t pos_ = 0;    // next reference to yield

  std::vector<NameRef> sortScratch_;
  size_t longest_ = 0;  // bytes of the longest name added

  bool canSpill_;  // runs may be set aside in store_
  std::vector<Run> runs_;
  std::vector<size_t> heap_;    // runs_ with names left, smallest first; runs_.size() is the batch
  bool yielded_ = false;        // a name came off the top of heap_: move that source on first
  std::string_view batchName_;  // the batch's smallest name not yet merged

  bool more_ = false;  // some match did not fit this batch: list again after it
  // The greatest name of the batches before this one, or the last merged; "" before the first.
  std::string last_;
  std::string cutoff_;  // this pass keeps only names below it; "" keeps all
  std::vector<std::string> unwritable_;
  size_t unwritableCount_ = 0;
  uint64_t matches_ = 0, matchBytes_ = 0;
  bool failed_ = false;
  std::string error_;  // what failed, as the user reads it
};

}  // namespace mkani

#endif  // MKANI_SEARCH_PICTURE_SEARCH_H_
