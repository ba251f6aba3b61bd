#include "search/run_merge.h"

#include <algorithm>
#include <utility>

namespace mkani {

bool RunMerge::start(RunStore* store, const std::vector<RunSpan>& runs, size_t bufferSize,
                     const NameBatch* batch, std::string* err) {
  batch_ = batch;
  readers_.reserve(runs.size());
  for (const RunSpan& run : runs) readers_.emplace_back(store, run, bufferSize);
  for (size_t i = 0; i < readers_.size(); ++i) {
    if (!readers_[i].advance(err)) {
      heap_.clear();
      return false;
    }
    heap_.push_back(i);  // a run holds at least one name
  }
  batchName_ = batch_->name(pos_++);
  heap_.push_back(readers_.size());  // the batch, which is never empty
  std::make_heap(heap_.begin(), heap_.end(), [this](size_t a, size_t b) {
    return compareNames(sourceName(a), sourceName(b)) > 0;
  });
  return true;
}

bool RunMerge::pass(std::string* err) {
  if (heap_.empty()) return true;
  // Move the source of name() on, and sift it down to its place.
  const size_t source = heap_[0];
  if (source == readers_.size()) {
    batchName_ = pos_ < batch_->count() ? batch_->name(pos_++) : std::string_view();
  } else if (!readers_[source].advance(err)) {
    heap_.clear();  // nothing after it can be trusted to come in order
    return false;
  }
  if (sourceName(source).empty()) {
    heap_[0] = heap_.back();
    heap_.pop_back();
  }
  siftDown();
  return true;
}

void RunMerge::siftDown() {
  for (size_t at = 0;;) {
    const size_t left = 2 * at + 1;
    const size_t right = left + 1;
    size_t least = at;
    if (left < heap_.size() && sortsBefore(heap_[left], heap_[least])) least = left;
    if (right < heap_.size() && sortsBefore(heap_[right], heap_[least])) least = right;
    if (least == at) return;
    std::swap(heap_[at], heap_[least]);
    at = least;
  }
}

}  // namespace mkani
