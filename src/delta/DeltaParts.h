#pragma once
// What the making and the applying of patches share: their failures, the mapping of their files
// and the layout of a match-and-difference patch's header.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/MappedFile.h"

namespace tandor::delta {

[[noreturn]] void Fail(const std::string& text);
[[noreturn]] void FailFile(int error, const std::filesystem::path& file);
// The whole file, read in at once.
MappedFile Map(const std::filesystem::path& file);
// Fails with `what` and zstd's reason when `code` is one of zstd's errors.
void Check(std::size_t code, const std::string& what);
// The window's size as a power of two that holds `bytes`, never below zstd's least.
int WindowLogFor(std::uint64_t bytes);

// A match-and-difference patch: the magic, the new file's and the old file's sizes, the new
// file's SHA-256 and the sizes of the control, difference and extra streams, all numbers in
// 8 bytes, least significant first; then the three streams, one zstd frame each.
constexpr std::size_t kNewSizeAt = 8, kOldSizeAt = 16, kDigestAt = 24, kStreamSizesAt = 56,
                      kHeaderBytes = 80;
// Applying a stream takes a window of 16 MiB at most.
constexpr int kStreamWindowLog = 24;

}  // namespace tandor::delta
