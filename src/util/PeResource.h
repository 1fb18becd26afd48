#pragma once
// Finds the version resource (type RT_VERSION, name 1) in the resource section of a Windows
// program or DLL held in memory.

#include <cstdint>
#include <optional>
#include <span>

namespace tandor {

// The bytes of the VS_VERSIONINFO resource, or nothing when `image` is no PE file, has no
// version resource, or any structure on the way points outside the file.
std::optional<std::span<const std::uint8_t>> FindPeVersionResource(
    std::span<const std::uint8_t> image);

}  // namespace tandor
