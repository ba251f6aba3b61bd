#include "search/wildcard.h"

namespace mkani {
namespace {

inline bool sameLetter(char a, char b) {
  unsigned char x = static_cast<unsigned char>(a), y = static_cast<unsigned char>(b);
  if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
  if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
  return x == y;
}

}  // namespace

bool wildcardMatch(std::string_view pattern, std::string_view name) {
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
