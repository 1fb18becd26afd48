#pragma once
// The room left on a file system, and how much of it anything this program writes leaves free.

#include <cstdint>
#include <filesystem>
#include <functional>

namespace tandor {

// The bytes that may still be written to the file system that holds `folder`.
using FreeSpaceSource = std::function<std::uint64_t(const std::filesystem::path& folder)>;

// What an extraction or a download leaves free on the disk it writes to, so that the machine
// and the programs on it keep room to work.
constexpr std::uint64_t FreeSpaceMargin = 64ull << 20;

// The space statvfs reports for the nearest folder of `folder` that exists; 0 when it cannot.
std::uint64_t AvailableSpace(const std::filesystem::path& folder);

}  // namespace tandor
