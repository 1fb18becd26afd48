#pragma once
// Text helpers of the whole program: comparisons that ignore case (as every key, name, copy mode
// and pattern of the manifest is compared), lower case and trimming. Only ASCII letters have
// case here, whatever locale is set; other characters stay as they are.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tandor {

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

char LowerAscii(char c);
std::string LowerAscii(std::string_view text);
char UpperAscii(char c);
std::string UpperAscii(std::string_view text);

// `text` without the characters of `blanks` at either end (spaces and tabs unless told).
std::string_view Trim(std::string_view text, std::string_view blanks = " \t");
// The same at the start only.
std::string_view TrimStart(std::string_view text, std::string_view blanks = " \t");

// The items of a list such as "a; b;;c", each trimmed of `blanks`; empty items are left out.
std::vector<std::string_view> SplitItems(std::string_view text, char separator,
                                         std::string_view blanks = " \t");

// Position of the first `needle` in `text` at or after `from`, or npos.
std::size_t FindIgnoreCase(std::string_view text, std::string_view needle, std::size_t from = 0);

// The value whose name `text` is, without regard to case; `otherwise` when it names none.
template <typename Value, std::size_t Count>
Value NamedValue(std::string_view text, const std::pair<std::string_view, Value> (&names)[Count],
                 Value otherwise) {
  for (const auto& [name, value] : names)
    if (EqualsIgnoreCase(text, name)) return value;
  return otherwise;
}

// True when `text` matches `pattern`, in which '*' stands for any run of characters.
// With `anyOne` set, '?' stands for any one character as well (server file-name patterns).
bool MatchesWildcard(std::string_view text, std::string_view pattern, bool anyOne = false);

}  // namespace tandor
