#include "search/wildcard.h"

#include <utility>

#include "search/name_order.h"

namespace mkani {

Wildcard::Wildcard(std::string pattern) : pattern_(std::move(pattern)) {
  for (size_t i = 1; i < pattern_.size(); ++i) {
    suffix_ += static_cast<char>(foldCase(pattern_[i]));
  }
}

bool Wildcard::matches(std::string_view name) const {
  if (name.size() < suffix_.size()) return false;
  const char* end = name.data() + name.size() - suffix_.size();
  for (size_t i = 0; i < suffix_.size(); ++i) {
    if (foldCase(end[i]) != static_cast<unsigned char>(suffix_[i])) return false;
  }
  return true;
}

}  // namespace mkani
