#include "search/name_order.h"

#include <algorithm>
#include <cstring>

namespace mkani {
namespace {

inline unsigned char fold(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}

// Buckets smaller than this are finished by insertion sort.
const size_t kSmallBucket = 24;

// The folded bytes depth..depth+7 of a name, big-endian, zero past its end. Names never hold a
// zero byte, so zero means "ended".
uint64_t chunkAt(const char* arena, const NameRef& ref, size_t depth) {
  const char* p = arena + ref.offset;
  uint64_t key = 0;
  for (size_t i = depth; i < depth + 8; ++i) key = (key << 8) | (i < ref.length ? fold(p[i]) : 0);
  return key;
}

void insertionSort(NameRef* refs, size_t count, const char* arena) {
  for (size_t i = 1; i < count; ++i) {
    NameRef item = refs[i];
    std::string_view name = nameAt(arena, item);
    size_t j = i;
    for (; j > 0 && compareNames(name, nameAt(arena, refs[j - 1])) < 0; --j) refs[j] = refs[j - 1];
    refs[j] = item;
  }
}

// Orders names that are equal when folded, and so of one length, by their raw bytes.
void sortRaw(NameRef* refs, size_t count, const char* arena) {
  std::sort(refs, refs + count, [arena](const NameRef& a, const NameRef& b) {
    return std::memcmp(arena + a.offset, arena + b.offset, a.length) < 0;
  });
}

// Most-significant-byte radix sort in place (American flag sort) of names whose first `depth`
// folded bytes agree. The key caches eight folded bytes at a time. Every bucket but the largest
// is sorted by a recursive call, so the recursion stays shallower than log2(count).
void sortFrom(NameRef* refs, size_t count, const char* arena, size_t depth) {
  for (;;) {
    if (count < kSmallBucket) {
      insertionSort(refs, count, arena);
      return;
    }
    const unsigned shift = 56 - 8 * static_cast<unsigned>(depth % 8);
    if (depth % 8 == 0) {
      for (size_t i = 0; i < count; ++i) refs[i].key = chunkAt(arena, refs[i], depth);
    }
    auto digit = [shift](const NameRef& r) { return static_cast<unsigned>(r.key >> shift) & 0xFF; };

    size_t size[256] = {};
    for (size_t i = 0; i < count; ++i) ++size[digit(refs[i])];
    if (size[0] == count) {  // every name ended here
      sortRaw(refs, count, arena);
      return;
    }
    if (size[digit(refs[0])] == count) {  // one shared byte: nothing to move
      ++depth;
      continue;
    }

    size_t start[256], next[256];
    size_t at = 0;
    for (unsigned b = 0; b < 256; ++b) {
      start[b] = next[b] = at;
      at += size[b];
    }
    for (unsigned b = 0; b < 256; ++b) {
      const size_t end = start[b] + size[b];
      while (next[b] < end) {
        NameRef item = refs[next[b]];
        unsigned d = digit(item);
        while (d != b) {
          std::swap(item, refs[next[d]++]);
          d = digit(item);
        }
        refs[next[b]++] = item;
      }
    }

    sortRaw(refs, size[0], arena);
    unsigned largest = 1;
    for (unsigned b = 2; b < 256; ++b) {
      if (size[b] > size[largest]) largest = b;
    }
    for (unsigned b = 1; b < 256; ++b) {
      if (b != largest && size[b] > 1) sortFrom(refs + start[b], size[b], arena, depth + 1);
    }
    refs += start[largest];
    count = size[largest];
    ++depth;
  }
}

}  // namespace

int compareNames(std::string_view a, std::string_view b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]) ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
}

void sortNames(NameRef* refs, size_t count, const char* arena) {
  sortFrom(refs, count, arena, 0);
}

}  // namespace mkani
