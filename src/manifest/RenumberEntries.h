#pragma once
// Numbering of the manifest text before it is saved.

#include <string>
#include <string_view>

namespace tandor {

// Every section header that begins with "[File" (any capitals), in order of appearance, becomes
// "[File0]", "[File1]", "[File2]", ...; then every "[File0]" becomes "[Files]". So the first
// header turns into the "[Files]" settings and the entries after it are numbered from 1.
//
// A "[File" whose "]" does not follow on the same line is no header: it stays as it is and takes
// no number, so a damaged header never swallows the lines after it. Any length of text works.
std::string RenumberEntries(std::string_view text);

}  // namespace tandor
