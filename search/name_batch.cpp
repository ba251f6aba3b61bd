#include "search/name_batch.h"

#include <algorithm>
#include <cstring>

namespace mkani {

// The references start the block, which operator new[] aligns for them.
static_assert(alignof(NameRef) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "references misaligned");

NameBatch::NameBatch(size_t budget) : budget_(budget) {}

bool NameBatch::add(std::string_view name, bool force) {
  const size_t need = used_ + name.size() + (count_ + 1) * sizeof(NameRef);
  if (need > capacity_) {
    size_t to = std::max(capacity_ == 0 ? std::min(budget_, kFirstBlock) : budget_, capacity_);
    if (need > to && (force || count_ == 0)) to = need;
    if (need > to) return false;
    grow(to);
  }
  used_ += name.size();
  const size_t offset = capacity_ - used_;
  std::memcpy(block_.get() + offset, name.data(), name.size());
  NameRef& ref = mutableRefs()[count_++];  // its key is set by the sort
  ref.offset = static_cast<uint32_t>(offset);
  ref.length = static_cast<uint32_t>(name.size());
  longest_ = std::max(longest_, name.size());
  return true;
}

void NameBatch::grow(size_t capacity) {
  std::unique_ptr<char[]> block(new char[capacity]);
  const size_t shift = capacity - capacity_;  // the names keep their distance from the end
  std::copy_n(block_.get() + capacity_ - used_, used_, block.get() + capacity - used_);
  std::transform(refs(), refs() + count_, reinterpret_cast<NameRef*>(block.get()),
                 [shift](NameRef ref) {
                   ref.offset += static_cast<uint32_t>(shift);
                   return ref;
                 });
  block_.swap(block);
  capacity_ = capacity;
}

void NameBatch::clear() {
  used_ = 0;
  count_ = 0;
}

void NameBatch::sort() {
  const size_t need = std::min(count_, kSortScratch);
  if (sortScratch_.size() < need) sortScratch_.resize(need);
  sortNames(mutableRefs(), count_, block_.get(), sortScratch_.data());
}

void NameBatch::prune(std::string* cutoff) {
  sortScratch_.resize(kSortScratch);
  sort();
  NameRef* refs = mutableRefs();
  size_t keep = 1;
  size_t used = refs[0].length + sizeof(NameRef);
  while (keep + 1 < count_) {
    const size_t cost = refs[keep].length + sizeof(NameRef);
    if (used + cost > budget_ / 2) break;
    used += cost;
    ++keep;
  }
  cutoff->assign(name(keep));

  // Close up the kept names at the end of the block, in the order they are stored, from the end
  // down: none moves onto a kept name not yet moved. Their references stay at the start.
  std::sort(refs, refs + keep,
            [](const NameRef& a, const NameRef& b) { return a.offset > b.offset; });
  size_t to = capacity_;
  for (size_t i = 0; i < keep; ++i) {
    to -= refs[i].length;
    std::memmove(block_.get() + to, block_.get() + refs[i].offset, refs[i].length);
    refs[i].offset = static_cast<uint32_t>(to);
  }
  used_ = capacity_ - to;
  count_ = keep;
}

}  // namespace mkani
