#include "search/picture_search.h"

#include <algorithm>
#include <cstring>

namespace mkani {
namespace {

// How many names ahead of the one yielded the search asks the cache for.
const size_t kPrefetchAhead = 32;

}  // namespace

PictureSearch::PictureSearch(DirectorySource* dir, size_t budget) : dir_(dir), budget_(budget) {}

SearchStatus PictureSearch::first(const char* pattern, PictureEntry* entry, std::string* err) {
  pattern_ = Wildcard(pattern);
  // Reserved, not touched: memory is only taken as names arrive, and never moved.
  names_.reserve(budget_);
  refs_.reserve(budget_ / sizeof(NameRef) + 1);
  if (!readPass()) failed_ = true;
  return next(entry, err);
}

SearchStatus PictureSearch::next(PictureEntry* entry, std::string* err) {
  for (;;) {
    while (pos_ < refs_.size()) {
#if defined(__GNUC__)
      // Sorted, the names are read in no order the cache can guess: ask ahead.
      if (pos_ + kPrefetchAhead < refs_.size()) {
        __builtin_prefetch(names_.data() + refs_[pos_ + kPrefetchAhead].offset);
      }
#endif
      const std::string_view name = nameAt(names_.data(), refs_[pos_++]);
      // A listing can name an entry twice when it is renamed meanwhile; yield it once.
      if (pos_ > 1 && name == nameAt(names_.data(), refs_[pos_ - 2])) continue;
      entry->name = name;
      return SearchStatus::kEntry;
    }
    if (failed_) {
      failed_ = false;
      more_ = false;
      *err = "cannot read the current directory: " + error_;
      return SearchStatus::kFailed;
    }
    if (!more_ || refs_.empty()) return SearchStatus::kNoEntry;
    last_.assign(nameAt(names_.data(), refs_.back()));
    hasLast_ = true;
    if (!readPass()) failed_ = true;
  }
}

void PictureSearch::close() {
  std::vector<char>().swap(names_);
  std::vector<NameRef>().swap(refs_);
  pos_ = 0;
  more_ = failed_ = false;
}

bool PictureSearch::readPass() {
  names_.clear();
  refs_.clear();
  pos_ = 0;
  more_ = hasCutoff_ = false;
  ++passes_;
  if (!dir_->open(pattern_.pattern().c_str(), &error_)) return false;

  std::string_view name;
  DirectorySource::Status status;
  while ((status = dir_->read(&name, &error_)) == DirectorySource::kName) {
    if (!pattern_.matches(name)) continue;
    if (hasLast_ && compareNames(name, last_) <= 0) continue;
    if (hasCutoff_ && compareNames(name, cutoff_) >= 0) {
      more_ = true;
      continue;
    }
    add(name);
    if (usage() > budget_ && refs_.size() > 1) prune();
  }
  bool ok = status == DirectorySource::kEnd;
  std::string closeError;
  if (!dir_->close(&closeError) && ok) {
    error_ = closeError;
    ok = false;
  }
  sortNames(refs_.data(), refs_.size(), names_.data());
  return ok;
}

void PictureSearch::add(std::string_view name) {
  NameRef ref;
  ref.key = 0;
  ref.offset = static_cast<uint32_t>(names_.size());
  ref.length = static_cast<uint32_t>(name.size());
  names_.insert(names_.end(), name.begin(), name.end());
  refs_.push_back(ref);
}

void PictureSearch::prune() {
  sortNames(refs_.data(), refs_.size(), names_.data());
  size_t keep = 1;
  size_t used = refs_[0].length + sizeof(NameRef);
  while (keep + 1 < refs_.size()) {
    const size_t cost = refs_[keep].length + sizeof(NameRef);
    if (used + cost > budget_ / 2) break;
    used += cost;
    ++keep;
  }
  cutoff_.assign(nameAt(names_.data(), refs_[keep]));
  hasCutoff_ = true;
  more_ = true;
  refs_.resize(keep);

  // Close up the kept names in the arena, in the order they are stored.
  std::sort(refs_.begin(), refs_.end(),
            [](const NameRef& a, const NameRef& b) { return a.offset < b.offset; });
  uint32_t to = 0;
  for (NameRef& ref : refs_) {
    std::memmove(names_.data() + to, names_.data() + ref.offset, ref.length);
    ref.offset = to;
    to += ref.length;
  }
  names_.resize(to);
}

}  // namespace mkani
