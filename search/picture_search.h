// The pictures of the current directory, one at a time, in name order.
#ifndef MKANI_SEARCH_PICTURE_SEARCH_H_
#define MKANI_SEARCH_PICTURE_SEARCH_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "search/directory_source.h"
#include "search/name_batch.h"
#include "search/run_codec.h"
#include "search/run_merge.h"
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
  // Reads one listing, keeping the matches above last_ (and below the cutoff) that fit the
  // budget. Returns false with the reason in error_ when the listing failed; what was kept stays.
  bool readPass();
  // Sorts the batch and sets it aside as one run. Returns false when the store failed.
  bool spill();
  // Readies the merge of the runs with the batch.
  void startMerge();
  // Returns what next returns, once runs were set aside: the smallest name of the runs and the
  // batch not yet yielded.
  SearchStatus nextMerged(PictureEntry* entry, std::string* err);
  // Returns kFailed with the reason in *err, as every call after a failure does.
  SearchStatus failure(std::string* err);

  DirectorySource* dir_;
  RunStore* store_;
  size_t budget_;
  Wildcard pattern_;
  int passes_ = 0;

  NameBatch batch_;
  size_t pos_ = 0;  // the batch's next reference to yield, once it is sorted

  bool canSpill_;  // runs may be set aside in store_
  RunWriter writer_;
  std::vector<RunSpan> runs_;
  RunMerge merge_;        // once runs were set aside and the listing is over
  bool yielded_ = false;  // a name came from the merge: move past it first

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
