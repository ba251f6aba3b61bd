#include "search/picture_search.h"

#include <algorithm>

namespace mkani {
namespace {

// How many names ahead of the one yielded the search asks the cache for.
const size_t kPrefetchAhead = 32;

// More bytes than any file system's longest name: 255 on most, 765 for 255 UTF-16 units in
// a double-byte code page.
const size_t kLongestName = 4096;

// Runs are written through a buffer of an eighth of the budget, at most kSpillBuffer, and read back
// through buffers that share an eighth of the budget, each between the two bounds and never
// smaller than the longest name.
const size_t kSpillBuffer = size_t{1} << 20;
const size_t kRunBufferMin = 64;
const size_t kRunBufferMax = size_t{1} << 20;

const char kListingFailed[] = "cannot read the current directory: ";
const char kReadBackFailed[] = "cannot read back the names set aside: ";

}  // namespace

PictureSearch::PictureSearch(DirectorySource* dir, RunStore* runs, size_t budget)
    : dir_(dir),
      store_(runs),
      budget_(budget),
      batch_(budget),
      canSpill_(runs != nullptr),
      writer_(runs, std::min(budget / 8, kSpillBuffer)) {}

SearchStatus PictureSearch::first(const char* pattern, PictureEntry* entry, std::string* err) {
  pattern_ = Wildcard(pattern);
  if (!readPass()) failed_ = true;
  return next(entry, err);
}

SearchStatus PictureSearch::next(PictureEntry* entry, std::string* err) {
  if (!runs_.empty()) return nextMerged(entry, err);
  for (;;) {
    const char* arena = batch_.arena();
    const size_t count = batch_.count();
    while (pos_ < count) {
#if defined(__GNUC__)
      // Sorted, the names are read in no order the cache can guess: ask ahead, as far as the
      // last name (a 1M-picture run takes 12% less time for it).
      __builtin_prefetch(arena + batch_.ref(std::min(pos_ + kPrefetchAhead, count - 1)).offset);
#endif
      const std::string_view name = batch_.name(pos_++);
      // A listing can name an entry twice when it is renamed meanwhile; yield it once.
      if (pos_ > 1 && name == batch_.name(pos_ - 2)) continue;
      entry->name = name;
      return SearchStatus::kEntry;
    }
    if (failed_) return failure(err);
    if (!more_ || count == 0) return SearchStatus::kNoEntry;
    last_.assign(batch_.name(count - 1));
    if (!readPass()) failed_ = true;
  }
}

void PictureSearch::close() {
  if (store_) store_->remove();
}

bool PictureSearch::readPass() {
  batch_.clear();
  pos_ = 0;
  more_ = false;
  cutoff_.clear();
  ++passes_;
  std::string reason;
  if (!dir_->open(pattern_.pattern().c_str(), &reason)) {
    error_ = kListingFailed + reason;
    return false;
  }
  // Returns true for a name that this pass leaves for a later one: from the cutoff up.
  const auto later = [this](std::string_view name) {
    return !cutoff_.empty() && compareNames(name, cutoff_) >= 0;
  };
  std::string_view name;
  DirectorySource::Status status;
  bool spillFailed = false;
  while ((status = dir_->read(&name, &reason)) == DirectorySource::kName ||
         status == DirectorySource::kUnwritable) {
    if (!pattern_.matches(name)) continue;
    // A pass over the whole listing (the first, or the one after runs failed) counts what it
    // cannot yield, and the matches.
    if (status == DirectorySource::kUnwritable) {
      if (last_.empty() && unwritableCount_++ < kMostUnwritable) unwritable_.emplace_back(name);
      continue;
    }
    if (last_.empty()) {
      ++matches_;
      matchBytes_ += name.size();
    } else if (compareNames(name, last_) <= 0) {
      continue;
    }
    if (later(name) || batch_.add(name, false)) continue;
    // The batch is full: set it aside, or keep its smaller half (a batch of fewer than two names
    // cannot be split), and add the name past the budget if need be.
    if (canSpill_) {
      if (!spill()) {
        spillFailed = true;
        break;
      }
    } else if (batch_.count() >= 2) {
      // Listed again for each batch, the search takes all the memory it needs now: the passes
      // to come may run while the script is rewritten in place.
      last_.reserve(kLongestName);
      cutoff_.reserve(kLongestName);
      batch_.prune(&cutoff_);
      more_ = true;
      if (later(name)) continue;
    }
    batch_.add(name, true);
  }
  bool ok = status == DirectorySource::kEnd;
  std::string closeReason;
  if (!dir_->close(&closeReason) && ok) {
    reason = closeReason;
    ok = false;
  }
  if (!ok) error_ = kListingFailed + reason;
  if (spillFailed) {
    // No runs then: list again, in batches, counting afresh.
    store_->remove();
    runs_.clear();
    canSpill_ = false;
    unwritable_.clear();
    unwritableCount_ = 0;
    matches_ = matchBytes_ = 0;
    return readPass();
  }
  batch_.sort();
  if (!runs_.empty()) startMerge();
  return ok;
}

bool PictureSearch::spill() {
  batch_.sort();
  std::string ignored;  // a failure here only means listing again instead
  if (runs_.empty() && !store_->create(&ignored)) return false;
  for (size_t i = 0; i < batch_.count(); ++i) {
    if (!writer_.add(batch_.name(i), &ignored)) return false;
  }
  RunSpan run;
  if (!writer_.finish(&run, &ignored)) return false;
  runs_.push_back(run);
  batch_.clear();
  return true;
}

void PictureSearch::startMerge() {
  // Each buffer holds the longest name: the merge, which may run while the script is rewritten
  // in place, takes no more memory.
  const size_t each =
      std::max(std::min(std::max(budget_ / 8 / runs_.size(), kRunBufferMin), kRunBufferMax),
               kRunLengthBytes + batch_.longest());
  std::string reason;
  if (merge_.start(store_, runs_, each, &batch_, &reason)) return;
  error_ = kReadBackFailed + reason;
  failed_ = true;
}

SearchStatus PictureSearch::nextMerged(PictureEntry* entry, std::string* err) {
  for (;;) {
    std::string reason;
    if (yielded_ && !merge_.pass(&reason)) {
      error_ = kReadBackFailed + reason;
      failed_ = true;
    }
    const std::string_view name = merge_.name();
    if (name.empty()) return failed_ ? failure(err) : SearchStatus::kNoEntry;
    yielded_ = true;
    if (name == last_) continue;  // listed twice
    last_.assign(name);
    entry->name = name;
    return SearchStatus::kEntry;
  }
}

SearchStatus PictureSearch::failure(std::string* err) {
  *err = error_;
  return SearchStatus::kFailed;
}

}  // namespace mkani
