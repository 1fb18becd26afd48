#pragma once
// One reader of the VS_VERSIONINFO structure, the version resource of Windows programs and of
// this updater. It answers the queries of the platform's VerQueryValue (the root "\", the
// translation table, a string under a language key) on bytes taken from a PE file's resource
// section or from an ELF file's .tandor_version section.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"
#include "util/FileVersion.h"

namespace tandor {

// The ELF section in which this updater carries its own version resource.
inline constexpr std::string_view kVersionSectionName = ".tandor_version";

// Four 16-bit numbers of the fixed file info, most significant first.
struct FourPartVersion {
  std::array<std::uint16_t, 4> Parts{};

  std::string ToString() const;  // "1.0.0.210"
  bool operator==(const FourPartVersion&) const = default;
};

class VersionResource {
 public:
  // The version resource of an executable image: PE (by its "MZ" header) or ELF.
  static std::optional<VersionResource> FromImage(std::span<const std::uint8_t> image);
  // `block` starts with a VS_VERSIONINFO structure; bytes after it are ignored.
  static std::optional<VersionResource> FromBlock(std::span<const std::uint8_t> block);

  // The value bytes of a block, addressed like VerQueryValue: names separated by '\', compared
  // without regard to case; "\" is the root's value, the fixed file info.
  std::optional<std::span<const std::uint8_t>> QueryValue(std::string_view subBlock) const;
  // A text value as UTF-8, up to its first NUL.
  std::optional<std::string> QueryText(std::string_view subBlock) const;

  // The first translation entry as 8 upper-case hex digits: language * 65536 + code page.
  std::optional<std::string> LanguageKey() const;
  std::optional<FourPartVersion> FileVersion() const;
  std::optional<FourPartVersion> ProductVersion() const;

  // The eight standard strings under the first translation, "?" for each one missing, each cut
  // to 255 bytes in `codePage`; all empty when the resource has no translation.
  FileVersionFields Fields(const CodePage& codePage) const;

 private:
  explicit VersionResource(std::vector<std::uint8_t> bytes) : mBytes(std::move(bytes)) {}
  std::optional<FourPartVersion> FixedVersion(std::size_t offset) const;

  std::vector<std::uint8_t> mBytes;
};

// The eight fields of the version resource in `image`; all empty when it has none. This is the
// whole path from file bytes to fields, with no file access.
FileVersionFields ReadVersionFields(std::span<const std::uint8_t> image, const CodePage& codePage);

}  // namespace tandor
