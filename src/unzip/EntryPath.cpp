#include "unzip/EntryPath.h"

#include <fnmatch.h>

#include <vector>

namespace tandor {

namespace {

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

std::vector<std::string_view> SplitParts(std::string_view name) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '/' || name[i] == '\\') {
      parts.push_back(name.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

bool HasDriveLetter(std::string_view name) {
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

}  // namespace

std::string EntryNameToUtf8(std::string_view stored, const CodePage& codePage) {
  if (codePage.IsUtf8() || IsValidUtf8(stored)) return std::string(stored);
  return codePage.ToUtf8(stored);
}

std::optional<std::filesystem::path> RelativeEntryPath(std::string_view utf8Name,
                                                       bool keepFolders) {
  if (utf8Name.empty() || utf8Name.front() == '/' || utf8Name.front() == '\\' ||
      HasDriveLetter(utf8Name)) {
    return std::nullopt;
  }
  std::filesystem::path relative;
  for (std::string_view part : SplitParts(utf8Name)) {
    if (part == "..") return std::nullopt;
    if (part.empty() || part == ".") continue;
    if (keepFolders) {
      relative /= std::string(part);
    } else {
      relative = std::string(part);
    }
  }
  if (relative.empty()) return std::nullopt;
  return relative;
}

bool EntryNameMatches(std::string_view pattern, std::string_view utf8Name) {
  return fnmatch(std::string(pattern).c_str(), std::string(utf8Name).c_str(), 0) == 0;
}

}  // namespace tandor
