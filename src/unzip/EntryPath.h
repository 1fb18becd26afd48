#pragma once
// How the name stored for a zip entry becomes a path below the target folder.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/CodePage.h"

namespace tandor {

// The stored name as UTF-8. Names flagged as UTF-8 in the archive arrive as UTF-8 already; any
// other name is in the code page of the machine that made the archive, taken to be ours.
std::string EntryNameToUtf8(std::string_view stored, const CodePage& codePage);

// The relative path that an entry name stands for, or nothing when the name would leave the
// target folder (an absolute name, a drive letter, a ".." part) or names nothing at all. '\'
// counts as a folder separator, since archives made on Windows may use it. Without
// `keepFolders` only the last part of the name is kept.
std::optional<std::filesystem::path> RelativeEntryPath(std::string_view utf8Name, bool keepFolders);

// Info-ZIP style wildcard match of an entry name: '*' any run, '?' one character, case kept.
bool EntryNameMatches(std::string_view pattern, std::string_view utf8Name);

}  // namespace tandor
