#include "search/wildcard.h"

#include <utility>

namespace mkani {
namespace {

inline char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

inline bool sameLetter(char a, char b) {
  return lower(a) == lower(b);
}

}  // namespace

Wildcard::Wildcard(std::string pattern)
    : pattern_(std::move(pattern)),
      suffixOnly_(!pattern_.empty() && pattern_[0] == '*' &&
                  pattern_.find_first_of("*?", 1) == std::string::npos) {
  if (suffixOnly_) {
    for (size_t i = 1; i < pattern_.size(); ++i) suffix_ += lower(pattern_[i]);
  }
}

bool Wildcard::matches(std::string_view name) const {
  const std::string_view pattern = pattern_;
  if (suffixOnly_) {
    if (name.size() < suffix_.size()) return false;
    const char* end = name.data() + name.size() - suffix_.size();
    for (size_t i = 0; i < suffix_.size(); ++i) {
      if (lower(end[i]) != suffix_[i]) return false;
    }
    return true;
  }
  // Greedy match that backtracks only to the last star seen.
  size_t p = 0, n = 0;
  size_t starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || sameLetter(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace mkani
