#pragma once
// Whole-file reads and atomic whole-file writes.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tandor {

// The file's bytes; nothing when it cannot be opened or is not a regular file.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file);

// Writes `bytes` to a temporary file beside `file`, flushes it to disk and renames it over
// `file`, so that readers see either the old or the new content, never a part. The mode of an
// existing file is kept. Returns false (and leaves `file` as it was) on any failure.
bool WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes);

// A temporary name beside `file` that no other writer in this or another process uses.
std::filesystem::path TemporarySibling(const std::filesystem::path& file);

}  // namespace tandor
