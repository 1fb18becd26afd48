#pragma once
// Version texts in a form that compares by plain case-insensitive string comparison.

#include <string>
#include <string_view>

namespace tandor {

// Kind "" (file and product versions): every part between "." (or, without any ".", between
// ",") is filled with zeros on the right or cut to ten characters, and the parts are joined:
// "1.00.0210" gives "1000000000" "0000000000" "0210000000" run together. A version without
// either separator is returned unchanged.
// Kind "MDAC" (any case; the data-access components' version): the version without its dots.
// Any other kind gives "".
std::string NormalizeVersion(std::string_view version, std::string_view kind);

}  // namespace tandor
