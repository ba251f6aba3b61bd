// Wildcard patterns as the directory search applies them to names.
#ifndef MKANI_SEARCH_WILDCARD_H_
#define MKANI_SEARCH_WILDCARD_H_

#include <string>
#include <string_view>

namespace mkani {

// A pattern where "*" stands for any run of bytes (none included) and "?" for any one byte;
// other bytes match themselves with ASCII letter case ignored.
class Wildcard {
 public:
  explicit Wildcard(std::string pattern = "*");

  // Returns true when `name` matches the pattern.
  bool matches(std::string_view name) const;

  const std::string& pattern() const { return pattern_; }

 private:
  std::string pattern_;
  bool suffixOnly_;     // a star and then plain bytes, like "*.jpg": the name's end decides
  std::string suffix_;  // then those bytes in lower case
};

}  // namespace mkani

#endif  // MKANI_SEARCH_WILDCARD_H_
