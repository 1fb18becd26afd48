#include "manifest/ManifestRules.h"

#include <algorithm>
#include <filesystem>

#include "text/TextCase.h"

namespace tandor {

std::string HexInName(std::string_view sha256Hex) {
  return std::string(sha256Hex.substr(0, kHexInName));
}

bool IsHexName(std::string_view text) {
  return text.size() == kHexInName && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

std::optional<std::string> HexOfName(std::string_view fileName, std::string_view name,
                                     std::string_view suffix) {
  if (fileName.size() != name.size() + 1 + kHexInName + suffix.size() ||
      !fileName.starts_with(name) || fileName[name.size()] != '.' || !fileName.ends_with(suffix))
    return std::nullopt;
  const std::string_view hex = fileName.substr(name.size() + 1, kHexInName);
  if (!IsHexName(hex)) return std::nullopt;
  return std::string(hex);
}

std::string KeptReleaseName(std::string_view manifestName, std::string_view sha256Hex) {
  const std::filesystem::path name(manifestName);
  return name.stem().string() + "." + HexInName(sha256Hex) + name.extension().string();
}

std::optional<std::string> HexOfReleaseName(std::string_view name) {
  constexpr std::string_view kExtension = ".ini";
  if (name.size() < kHexInName + kExtension.size() + 2 ||
      !EqualsIgnoreCase(name.substr(name.size() - kExtension.size()), kExtension) ||
      name[name.size() - kHexInName - kExtension.size() - 1] != '.')
    return std::nullopt;
  std::string hex =
      LowerAscii(name.substr(name.size() - kHexInName - kExtension.size(), kHexInName));
  if (!IsHexName(hex)) return std::nullopt;
  return hex;
}

std::string SubstituteName(std::string_view name) {
  if (name.empty()) return "_";
  return std::string(name.substr(0, name.size() - 1)) + "_";
}

bool IsSubstituteName(std::string_view name) {
  return name.ends_with('_');
}

const std::string& InstalledName(const std::string& fileName, const std::string& realName) {
  return IsSubstituteName(fileName) ? realName : fileName;
}

}  // namespace tandor
