// The directory search's pattern: a star and a suffix, as in "*.jpg".
#ifndef MKANI_SEARCH_WILDCARD_H_
#define MKANI_SEARCH_WILDCARD_H_

#include <string>
#include <string_view>

namespace mkani {

// A star followed by plain bytes, the only form of pattern the tool uses: it matches every name
// that ends in those bytes, ASCII letter case ignored; the star may match nothing.
class Wildcard {
 public:
  explicit Wildcard(std::string pattern = "*");

  // Returns true when `name` matches the pattern.
  bool matches(std::string_view name) const;

  const std::string& pattern() const { return pattern_; }

 private:
  std::string pattern_;
  std::string suffix_;  // the bytes after the star, case folded as names compare
};

}  // namespace mkani

#endif  // MKANI_SEARCH_WILDCARD_H_
