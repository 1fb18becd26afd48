#pragma once
// The order in which normalised version texts compare.

#include <string_view>

namespace tandor {

// Compares two version texts without regard to case: negative when `a` is older, 0 when equal,
// positive when newer. Characters compare one by one; punctuation, blanks and other symbols rank
// below digits, digits below letters, and letters below characters outside ASCII (Hangul, for
// instance). Within each class the character codes decide, and a text that is a prefix of the
// other ranks below it. So "?" (a version resource without the string) is older than any
// numbered version, and time stamps "YYYY-MM-DD HH:MM:SS" compare in time order.
int CompareVersions(std::string_view a, std::string_view b);

}  // namespace tandor
