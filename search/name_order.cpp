#include "search/name_order.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace mkani {
namespace {

// Buckets up to this size are sorted by their eight-byte keys, by comparison when small and by
// least-significant-byte radix sort through a scratch buffer of this size otherwise.
const size_t kKeyedBucket = kSortScratch;
const size_t kComparedBucket = 256;

// The folded bytes depth..depth+7 of a name, big-endian, zero past its end. Names never hold a
// zero byte, so zero means "ended".
uint64_t chunkAt(const char* arena, const NameRef& ref, size_t depth) {
  const size_t from = std::min<size_t>(depth, ref.length);
  unsigned char bytes[8] = {};
  std::memcpy(bytes, arena + ref.offset + from, std::min(ref.length - from, sizeof bytes));
  uint64_t key;
  std::memcpy(&key, bytes, sizeof key);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  key = __builtin_bswap64(key);
#endif
  // Fold a-z to A-Z in all eight bytes at once; bytes from 0x80 up stay as they are.
  const uint64_t ones = 0x0101010101010101u, highs = 0x80 * ones;
  const uint64_t low = key & ~highs;
  const uint64_t atLeastA = low + (0x80 - 'a') * ones;
  const uint64_t pastZ = low + (0x80 - 'z' - 1) * ones;
  const uint64_t lower = atLeastA & ~pastZ & ~key & highs;
  return key - (lower >> 2);
}

// Orders names that are equal when folded, and so of one length, by their raw bytes.
void sortRaw(NameRef* refs, size_t count, const char* arena) {
  std::sort(refs, refs + count, [arena](const NameRef& a, const NameRef& b) {
    return std::memcmp(arena + a.offset, arena + b.offset, a.length) < 0;
  });
}

// Sorts `refs` by key: one pass counts every byte of every key, then one stable pass through
// `scratch` for each byte, lowest first, where the keys do not all agree.
void radixSortKeys(NameRef* refs, size_t count, NameRef* scratch) {
  size_t size[8][256] = {};
  for (size_t i = 0; i < count; ++i) {
    for (unsigned b = 0; b < 8; ++b) ++size[b][(refs[i].key >> (8 * b)) & 0xFF];
  }
  NameRef* from = refs;
  NameRef* to = scratch;
  for (unsigned b = 0; b < 8; ++b) {
    if (size[b][(from[0].key >> (8 * b)) & 0xFF] == count) continue;
    size_t next[256];
    for (size_t digit = 0, at = 0; digit < 256; ++digit) {
      next[digit] = at;
      at += size[b][digit];
    }
    for (size_t i = 0; i < count; ++i) to[next[(from[i].key >> (8 * b)) & 0xFF]++] = from[i];
    std::swap(from, to);
  }
  if (from != refs) std::copy(from, from + count, refs);
}

// Sorts names whose first `depth` folded bytes agree by the eight bytes that follow, then each
// run that ties there by the next eight. At most kKeyedBucket names.
void sortByKeys(NameRef* refs, size_t count, const char* arena, size_t depth, NameRef* scratch) {
  for (size_t i = 0; i < count; ++i) refs[i].key = chunkAt(arena, refs[i], depth);
  if (count < kComparedBucket) {
    std::sort(refs, refs + count, [](const NameRef& a, const NameRef& b) { return a.key < b.key; });
  } else {
    radixSortKeys(refs, count, scratch);
  }
  // Names that tie go on to the next eight bytes, unless they end here (a zero byte: names hold
  // none), and so are of one length and equal but for letter case.
  for (size_t start = 0, end = 0; start < count; start = end) {
    while (++end < count && refs[end].key == refs[start].key) continue;
    if ((refs[start].key & 0xFF) == 0) {
      sortRaw(refs + start, end - start, arena);
    } else if (end - start > 1) {
      sortByKeys(refs + start, end - start, arena, depth + 8, scratch);
    }
  }
}

// Most-significant-byte radix sort in place (American flag sort) of names whose first `depth`
// folded bytes agree, down to buckets that sortByKeys takes. The key caches eight folded bytes
// at a time. Every bucket but the largest is sorted by a recursive call, so the recursion stays
// shallower than log2(count).
void sortFrom(NameRef* refs, size_t count, const char* arena, size_t depth, NameRef* scratch) {
  for (;;) {
    if (count <= kKeyedBucket) {
      sortByKeys(refs, count, arena, depth, scratch);
      return;
    }
    const size_t chunk = depth - depth % 8;
    if (depth == chunk) {
      for (size_t i = 0; i < count; ++i) refs[i].key = chunkAt(arena, refs[i], depth);
    }
    // Skip at once the bytes of this chunk that every name shares.
    const uint64_t first = refs[0].key;
    uint64_t differ = 0;
    for (size_t i = 1; i < count; ++i) differ |= refs[i].key ^ first;
    if (differ == 0) {
      if ((first & 0xFF) == 0) {  // all ended within the chunk, at one length
        sortRaw(refs, count, arena);
        return;
      }
      depth = chunk + 8;
      continue;
    }
    // The bytes before depth are shared already.
    while (((differ << (8 * (depth - chunk))) >> 56) == 0) ++depth;

    const unsigned shift = 56 - 8 * static_cast<unsigned>(depth - chunk);
    auto digit = [shift](const NameRef& r) { return static_cast<unsigned>(r.key >> shift) & 0xFF; };
    size_t size[256] = {};
    for (size_t i = 0; i < count; ++i) ++size[digit(refs[i])];

    size_t start[256], next[256];
    size_t at = 0;
    for (unsigned b = 0; b < 256; ++b) {
      start[b] = next[b] = at;
      at += size[b];
    }
    for (unsigned b = 0; b < 256; ++b) {  // every name swapped into its bucket, in place
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

    // Bucket 0 holds the names that ended here: its call finds them tied and orders them by raw
    // bytes.
    const unsigned largest = static_cast<unsigned>(std::max_element(size, size + 256) - size);
    for (unsigned b = 0; b < 256; ++b) {
      if (b != largest) sortFrom(refs + start[b], size[b], arena, depth + 1, scratch);
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
    const int differ = foldCase(a[i]) - foldCase(b[i]);
    if (differ != 0) return differ;
  }
  const int longer = static_cast<int>(a.size()) - static_cast<int>(b.size());
  return longer != 0 ? longer : a.compare(b);
}

void sortNames(NameRef* refs, size_t count, const char* arena) {
  std::vector<NameRef> scratch(std::min(count, kKeyedBucket));
  sortNames(refs, count, arena, scratch.data());
}

void sortNames(NameRef* refs, size_t count, const char* arena, NameRef* scratch) {
  sortFrom(refs, count, arena, 0, scratch);
}

}  // namespace mkani
