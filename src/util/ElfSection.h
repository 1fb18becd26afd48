#pragma once
// Finds a named section in an ELF file held in memory (32- or 64-bit, either byte order).

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tandor {

// The contents of the first section called `name`, or nothing when `image` is no ELF file, has
// no such section, or a header on the way points outside the file.
std::optional<std::span<const std::uint8_t>> FindElfSection(std::span<const std::uint8_t> image,
                                                            std::string_view name);

}  // namespace tandor
