// The pictures of the current directory, one at a time, in name order.
#ifndef MKANI_SEARCH_PICTURE_SEARCH_H_
#define MKANI_SEARCH_PICTURE_SEARCH_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "search/directory_source.h"
#include "search/name_order.h"
#include "search/wildcard.h"

namespace mkani {

// One match: its name as stored in the directory, valid until the search's next call.
struct PictureEntry {
  std::string_view name;
};

enum class SearchStatus { kEntry, kNoEntry, kFailed };

// Yields the names matching a pattern in compareNames order, each once, strictly increasing.
// It holds at most about `budget` bytes of names: a listing too large for that is read again
// for each further batch, starting above the last name yielded.
class PictureSearch {
 public:
  // Room for a million names of twenty bytes; a process under 64 MiB with everything else.
  static constexpr size_t kDefaultBudget = size_t{36} << 20;

  explicit PictureSearch(DirectorySource* dir, size_t budget = kDefaultBudget);

  // Starts the search. Returns kEntry with the first match in *entry, kNoEntry when nothing
  // matches, or kFailed with the reason in *err when the directory cannot be listed.
  SearchStatus first(const char* pattern, PictureEntry* entry, std::string* err);

  // Returns kEntry with the next match in *entry, or kNoEntry after the last one. When the
  // listing failed part-way, it yields every match read before the failure and then returns
  // kFailed with the reason in *err.
  SearchStatus next(PictureEntry* entry, std::string* err);

  // Ends the search and gives back its memory.
  void close();

  // Returns how many times the directory has been listed so far.
  int passes() const { return passes_; }

 private:
  // Reads one listing, keeping the smallest matches above last_ that fit the budget. Returns
  // false with the reason in error_ when the listing failed; what was kept stays.
  bool readPass();
  void add(std::string_view name);
  // Keeps the smallest names filling half the budget; the rest are left for a later pass.
  void prune();
  size_t usage() const { return names_.size() + refs_.size() * sizeof(NameRef); }

  DirectorySource* dir_;
  size_t budget_;
  Wildcard pattern_;
  int passes_ = 0;

  std::vector<char> names_;    // the batch's name bytes
  std::vector<NameRef> refs_;  // the batch, sorted once the pass is over
  size_t pos_ = 0;             // next ref to yield

  bool more_ = false;  // some match did not fit this batch: list again after it
  bool hasLast_ = false;
  std::string last_;  // the greatest name of the batches before this one
  bool hasCutoff_ = false;
  std::string cutoff_;  // this pass keeps only names below it
  bool failed_ = false;
  std::string error_;
};

}  // namespace mkani

#endif  // MKANI_SEARCH_PICTURE_SEARCH_H_
