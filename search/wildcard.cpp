#include "search/wildcard.h"

#include <utility>

namespace mkani {
namespace {

inline char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace

Wildcard::Wildcard(std::string pattern) : pattern_(std::move(pattern)) {
  for (size_t i = 1; i < pattern_.size(); ++i) {
    suffix_ += lower(pattern_[i]);
  }
}

bool Wildcard::matches(std::string_view name) const {
  if (name.size() < suffix_.size()) return false;
  const char* end = name.data() + name.size() - suffix_.size();
  for (size_t i = 0; i < suffix_.size(); ++i) {
    if (lower(end[i]) != suffix_[i]) return false;
  }
  return true;
}

}  // namespace mkani
