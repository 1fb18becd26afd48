#pragma once
// Patches made by matching and differencing, as bsdiff makes them: the new file is cut into
// pieces that each line up with a stretch of the old file, kept as their byte-wise difference
// from that stretch, and pieces with no such stretch, kept as they are. Where an executable's
// code only moved, the difference is zero but for the addresses that point across the change,
// and compresses to almost nothing; an LZ patch has to break its matches at every such address.
// The control, difference and extra streams are one zstd frame each, with windows small enough
// that applying a patch takes a few MiB whatever the files' size.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tandor {

// A patch of this kind begins with these bytes, the last of them its format. Patches are made
// with CreatePatch (Delta.h).
inline constexpr std::string_view kMatchDiffMagic{"TandorD\x01", 8};

// The result's size a patch of this kind declares, once its header is found sound for an old
// file of `oldSize` bytes. Throws RuntimeError whose text begins with `name`.
std::uint64_t MatchDiffResultSize(std::span<const std::uint8_t> patch, std::uint64_t oldSize,
                                  const std::string& name);

// Writes the result into `out`, which holds the size above, and checks it against the digest the
// patch carries. Throws RuntimeError whose text begins with `name` when the patch is damaged or
// was made from another file; `out` then holds anything.
void ApplyMatchDiff(std::span<const std::uint8_t> old, std::span<const std::uint8_t> patch,
                    std::uint8_t* out, const std::string& name);

}  // namespace tandor
