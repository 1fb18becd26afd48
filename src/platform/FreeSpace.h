#pragma once
// The room left on a file system, and how much of it anything this program writes leaves free.

#include <cstdint>
#include <filesystem>
#include <functional>

namespace tandor {

// The bytes that may still be written to the file system that holds `folder`.
using FreeSpaceSource = std::function<std::uint64_t(const std::filesystem::path& folder)>;

// What an extraction or a download leaves free on a disk of 2 GiB or more, so that the machine
// and the programs on it keep room to work.
constexpr std::uint64_t FreeSpaceMargin = 64ull << 20;

// What is left free on the file system of `folder`: FreeSpaceMargin, or a 32nd of a smaller file
// system (2 MiB of 64 MiB), where a fixed 64 MiB would refuse a file that fits with room to spare.
std::uint64_t FreeSpaceMarginOf(const std::filesystem::path& folder);

// The space statvfs reports for the nearest folder of `folder` that exists; 0 when it cannot.
std::uint64_t AvailableSpace(const std::filesystem::path& folder);

}  // namespace tandor
