#pragma once
// Text comparisons that ignore case, as every key, name, copy mode and pattern of the manifest
// is compared. Only ASCII letters have case here; other characters compare as they are.

#include <cstddef>
#include <string>
#include <string_view>

namespace tandor {

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Position of the first `needle` in `text` at or after `from`, or npos.
std::size_t FindIgnoreCase(std::string_view text, std::string_view needle, std::size_t from = 0);

// True when `text` matches `pattern`, in which '*' stands for any run of characters.
// With `anyOne` set, '?' stands for any one character as well (server file-name patterns).
bool MatchesWildcard(std::string_view text, std::string_view pattern, bool anyOne = false);

}  // namespace tandor
