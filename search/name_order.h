// The one order in which mkani lists pictures, whatever the file system.
#ifndef MKANI_SEARCH_NAME_ORDER_H_
#define MKANI_SEARCH_NAME_ORDER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mkani {

// Returns the byte `c` as names compare it: ASCII a-z read as A-Z, every byte unsigned.
inline unsigned char foldCase(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - ('a' - 'A')) : u;
}

// Returns a negative number, zero or a positive number as `a` sorts before, with or after `b`:
// bytes compare unsigned with ASCII a-z read as A-Z, and names equal so are ordered by their raw
// bytes. Zero only for identical names.
int compareNames(std::string_view a, std::string_view b);

// A name stored in an arena of name bytes, with room for the sort's cached key.
struct NameRef {
  uint64_t key;
  uint32_t offset;
  uint32_t length;
};

// Returns the name that `ref` points to in `arena`.
inline std::string_view nameAt(const char* arena, const NameRef& ref) {
  return std::string_view(arena + ref.offset, ref.length);
}

// Sorts `refs[0..count)` into compareNames order of the names they point to in `arena`.
void sortNames(NameRef* refs, size_t count, const char* arena);

// The most references of scratch space that the sort needs, however many names it sorts.
constexpr size_t kSortScratch = size_t{1} << 16;

// The same, with room for min(count, kSortScratch) references at `scratch` instead of memory
// of its own.
void sortNames(NameRef* refs, size_t count, const char* arena, NameRef* scratch);

}  // namespace mkani

#endif  // MKANI_SEARCH_NAME_ORDER_H_
