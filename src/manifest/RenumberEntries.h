#pragma once
// Numbering of the manifest text before it is saved: the entries' headers, and for a signed
// manifest the serial and the product it is for.

#include <optional>
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

// A manifest's serial as written: digits only, at most 18 of them; empty counts as 0. Nothing
// for anything else.
std::optional<long long> ParseSerial(std::string_view text);

// The text with the "Serial=" of its [Files] section one higher, or "Serial=1" added under the
// [Files] header when the section has none; a text without [Files] comes back as it is. Nothing
// when the serial there is no number or cannot grow.
std::optional<std::string> RaiseSerial(std::string_view text);

// The trimmed value of `key` in the [Files] section (key compared without case); empty when the
// section or the key is missing.
std::string FilesValue(std::string_view text, std::string_view key);

// The text with `key`=`value` in its [Files] section: in place of the key's line, else as the
// section's first line; a text without [Files] comes back as it is.
std::string SetFilesValue(std::string_view text, std::string_view key, std::string_view value);
// The text without the key's line (and its line end) in [Files].
std::string RemoveFilesKey(std::string_view text, std::string_view key);

// The text with "Product=<product>" under its [Files] header when the section names no product
// (an empty Product= names none); a text without [Files], or whose [Files] names a product
// already, comes back as it is.
std::string NameProduct(std::string_view text, std::string_view product);

}  // namespace tandor
