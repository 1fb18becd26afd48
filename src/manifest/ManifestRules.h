#pragma once
// The rules of a product's server folder that both sides hold to: the publisher when it writes
// the folder, the update pass when it reads it. Each is written here once.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tandor {

// What a manifest may weigh: far more than any real one, and little enough that a server cannot
// fill a machine's disk or memory with it. A larger one is no manifest.
constexpr std::int64_t kManifestByteLimit = std::int64_t{16} << 20;

// The most "DeltaN=" keys an entry may carry: Delta1 to Delta16; a machine reads no more.
constexpr int kMostDeltas = 16;

// Names that tell a SHA-256 carry its first 16 hex digits, in lower case: kept versions
// ("<name>.<h>.old"), their patches ("<name>.<h>.zpatch"), the folders of a rollout ("<h>") and
// kept releases ("<stem>.<h>.ini").
constexpr std::size_t kHexInName = 16;

// The digits of a SHA-256 (in hex) that a name carries.
std::string HexInName(std::string_view sha256Hex);
// True for exactly kHexInName lower-case hex digits.
bool IsHexName(std::string_view text);
// The digits in `fileName` when it is `name` + "." + kHexInName lower-case hex digits + `suffix`;
// nothing for any other name.
std::optional<std::string> HexOfName(std::string_view fileName, std::string_view name,
                                     std::string_view suffix);
// The name a release of manifest `manifestName` is kept under: "<stem>.<h><extension>".
std::string KeptReleaseName(std::string_view manifestName, std::string_view sha256Hex);
// The digits, in lower case, of a kept release's name "<stem>.<h>.ini" (any capitals, <stem> not
// empty); nothing for any other name.
std::optional<std::string> HexOfReleaseName(std::string_view name);

// A file can lie on the server under a substitute name, its last character replaced by "_"
// ("Sample.dll" -> "Sample.dl_"), and is installed under its real name.
std::string SubstituteName(std::string_view name);
// True for a name ending in "_".
bool IsSubstituteName(std::string_view name);
// The name a file lying on the server as `fileName` is installed under.
const std::string& InstalledName(const std::string& fileName, const std::string& realName);

}  // namespace tandor
