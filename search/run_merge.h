// The merge of sorted runs read back from a store with the last batch, still in memory.
#ifndef MKANI_SEARCH_RUN_MERGE_H_
#define MKANI_SEARCH_RUN_MERGE_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "search/name_batch.h"
#include "search/run_codec.h"
#include "search/run_store.h"

namespace mkani {

// Yields the names of several sorted runs and of one sorted batch together, smallest first, in
// compareNames order; a name that two sources hold comes twice.
class RunMerge {
 public:
  // Starts merging `runs`, each holding at least one name, read back from `store` through a
  // buffer of `bufferSize` bytes each, with the names of `batch`, sorted and not empty, which
  // must outlive the merge. Returns false with the reason in *err when a run cannot be read
  // back; the merge is then empty, as nothing can be trusted to come in order.
  bool start(RunStore* store, const std::vector<RunSpan>& runs, size_t bufferSize,
             const NameBatch* batch, std::string* err);

  // Returns the smallest name not yet passed, valid until `pass`; empty after the last.
  std::string_view name() const {
    return heap_.empty() ? std::string_view() : sourceName(heap_[0]);
  }

  // Moves past name(). Returns false with the reason in *err when a run cannot be read back;
  // the merge is then empty.
  bool pass(std::string* err);

 private:
  // Returns the current name of source `source`: a run, or the batch after the last run.
  std::string_view sourceName(size_t source) const {
    return source < readers_.size() ? readers_[source].name() : batchName_;
  }
  // Returns whether the current name of source `a` sorts before that of `b`.
  bool sortsBefore(size_t a, size_t b) const {
    return compareNames(sourceName(a), sourceName(b)) < 0;
  }
  // Moves the source at the top of heap_ down to its place.
  void siftDown();

  std::vector<RunReader> readers_;
  const NameBatch* batch_ = nullptr;
  size_t pos_ = 0;              // the batch's next name
  std::string_view batchName_;  // the batch's smallest name not yet passed
  std::vector<size_t> heap_;    // sources with names left, smallest first; readers_.size() is
                                // the batch
};

}  // namespace mkani

#endif  // MKANI_SEARCH_RUN_MERGE_H_
