#include "text/TextCase.h"

namespace tandor {

namespace {

char Fold(char c) {
  return LowerAscii(c);
}

std::string EachChar(std::string_view text, char (*change)(char)) {
  std::string changed(text);
  for (char& c : changed) c = change(c);
  return changed;
}

bool SameAt(std::string_view text, std::size_t at, std::string_view needle) {
  for (std::size_t i = 0; i < needle.size(); ++i)
    if (Fold(text[at + i]) != Fold(needle[i])) return false;
  return true;
}

}  // namespace

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string LowerAscii(std::string_view text) {
  return EachChar(text, LowerAscii);
}

std::string UpperAscii(std::string_view text) {
  return EachChar(text, UpperAscii);
}

std::string_view TrimStart(std::string_view text, std::string_view blanks) {
  const std::size_t first = text.find_first_not_of(blanks);
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::vector<std::string_view> SplitItems(std::string_view text, char separator,
                                         std::string_view blanks) {
  std::vector<std::string_view> items;
  for (;;) {
    const std::size_t end = text.find(separator);
    if (const std::string_view item = Trim(text.substr(0, end), blanks); !item.empty())
      items.push_back(item);
    if (end == std::string_view::npos) return items;
    text.remove_prefix(end + 1);
  }
}

std::string_view Trim(std::string_view text, std::string_view blanks) {
  text = TrimStart(text, blanks);
  const std::size_t last = text.find_last_not_of(blanks);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && SameAt(a, 0, b);
}

std::size_t FindIgnoreCase(std::string_view text, std::string_view needle, std::size_t from) {
  if (needle.size() > text.size()) return std::string_view::npos;
  for (std::size_t at = from; at + needle.size() <= text.size(); ++at)
    if (SameAt(text, at, needle)) return at;
  return std::string_view::npos;
}

bool MatchesWildcard(std::string_view text, std::string_view pattern, bool anyOne) {
  // Greedy matching with backtracking to the last '*': linear in practice, and never
  // exponential since only the most recent star is ever retried.
  std::size_t t = 0, p = 0;
  std::size_t starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starT = t;
    } else if (p < pattern.size() &&
               ((anyOne && pattern[p] == '?') || Fold(pattern[p]) == Fold(text[t]))) {
      ++p;
      ++t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace tandor
