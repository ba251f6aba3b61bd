// A batch of names listed from a directory, held in one block of memory to be sorted.
#ifndef MKANI_SEARCH_NAME_BATCH_H_
#define MKANI_SEARCH_NAME_BATCH_H_

#include <cassert>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "search/name_order.h"

namespace mkani {

// Names in one block of at most `budget` bytes: their references up from the block's start, their
// bytes down from its end, so that the two together may fill it to the byte. The block grows past
// the budget only for a name that must be added.
class NameBatch {
 public:
  // The first block, at most the budget; the block grows to the budget only when it fills.
  static constexpr size_t kFirstBlock = size_t{1} << 20;

  // An empty batch that takes no memory until its first name.
  explicit NameBatch(size_t budget);

  // Adds `name` after the others. Returns false when it does not fit the budget, unless `force`
  // (or the batch is empty): the block then grows past the budget to hold it.
  bool add(std::string_view name, bool force);

  // Empties the batch; it keeps its block.
  void clear();

  // Sorts the references into compareNames order.
  void sort();

  // Sorts the batch, of at least two names, and keeps its smallest names that fill half the
  // budget: always the first, never the last. Sets *cutoff to the smallest name left out. Takes
  // the most scratch memory the sort needs first, so that later sorts take none.
  void prune(std::string* cutoff);

  // Returns how many names the batch holds.
  size_t count() const { return count_; }

  // Returns the bytes that the references' offsets point into, valid until the next add, clear
  // or prune.
  const char* arena() const { return block_.get(); }

  // Returns reference `i`, which must be below count(): a debug build stops at any other. The
  // references are in compareNames order after sort, else in no set order.
  const NameRef& ref(size_t i) const {
    assert(i < count_);
    return refs()[i];
  }

  // Returns the name that reference `i` points to.
  std::string_view name(size_t i) const { return nameAt(arena(), ref(i)); }

  // Returns the bytes that the names and their references take.
  size_t bytes() const { return used_ + count_ * sizeof(NameRef); }

  // Returns the size of the block, which bytes() never exceeds.
  size_t capacity() const { return capacity_; }

  // Returns the length of the longest name ever added, cleared batches included.
  size_t longest() const { return longest_; }

 private:
  // Returns the references.
  const NameRef* refs() const { return reinterpret_cast<const NameRef*>(block_.get()); }
  // Returns the references, for the batch to change.
  NameRef* mutableRefs() { return reinterpret_cast<NameRef*>(block_.get()); }
  // Moves the batch to a new block of `capacity` bytes, larger than the one it has.
  void grow(size_t capacity);

  size_t budget_;
  std::unique_ptr<char[]> block_;
  size_t capacity_ = 0;
  size_t used_ = 0;   // bytes of names, at the end of the block
  size_t count_ = 0;  // references, at its start
  size_t longest_ = 0;
  std::vector<NameRef> sortScratch_;
};

}  // namespace mkani

#endif  // MKANI_SEARCH_NAME_BATCH_H_
