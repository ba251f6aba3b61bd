// Wildcard patterns as the directory search applies them to names.
#ifndef MKANI_SEARCH_WILDCARD_H_
#define MKANI_SEARCH_WILDCARD_H_

#include <string_view>

namespace mkani {

// Returns true when `name` matches `pattern`, where "*" stands for any run of bytes (none
// included) and "?" for any one byte; other bytes match themselves with ASCII letter case ignored.
bool wildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace mkani

#endif  // MKANI_SEARCH_WILDCARD_H_
