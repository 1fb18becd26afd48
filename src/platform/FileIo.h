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

// Copies `from` onto `to` in place: an existing file is truncated and rewritten, so that a
// target that is a running program fails (as a file in use does) instead of being replaced
// behind its back. The target becomes executable. Throws RuntimeError (70 when the target is in
// use or not writable, 53 when the source is missing).
void CopyFileInPlace(const std::filesystem::path& from, const std::filesystem::path& to);

// A temporary name beside `file` that no other writer in this or another process uses.
std::filesystem::path TemporarySibling(const std::filesystem::path& file);

}  // namespace tandor
