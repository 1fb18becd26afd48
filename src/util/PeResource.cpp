#include "util/PeResource.h"

#include "util/ByteView.h"

namespace tandor {

namespace {

constexpr std::uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr std::uint32_t kVersionResourceName = 1;   // VS_VERSION_INFO
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kHighBit = 0x80000000u;

// The section table, enough to turn a relative virtual address into a file range.
class PeSections {
 public:
  PeSections(const ByteView& image, std::uint64_t tableOffset, std::uint16_t count)
      : mImage(image), mTableOffset(tableOffset), mCount(count) {}

  // The file bytes of [rva, rva + length) when they lie inside one section's raw data.
  std::optional<std::span<const std::uint8_t>> Range(std::uint64_t rva,
                                                     std::uint64_t length) const {
    for (std::uint16_t i = 0; i < mCount; ++i) {
      std::uint64_t header = mTableOffset + std::uint64_t{i} * 40;
      auto virtualAddress = mImage.U32(header + 12);
      auto rawSize = mImage.U32(header + 16);
      auto rawOffset = mImage.U32(header + 20);
      if (!virtualAddress || !rawSize || !rawOffset) return std::nullopt;
      if (rva < *virtualAddress || rva - *virtualAddress >= *rawSize) continue;
      std::uint64_t inSection = rva - *virtualAddress;
      if (length > *rawSize - inSection) return std::nullopt;
      return mImage.Slice(*rawOffset + inSection, length);
    }
    return std::nullopt;
  }

 private:
  const ByteView& mImage;
  std::uint64_t mTableOffset;
  std::uint16_t mCount;
};

// One IMAGE_RESOURCE_DIRECTORY, addressed relative to the start of the resource data.
struct DirectoryEntry {
  std::uint32_t Name;
  std::uint32_t Target;
};

std::optional<DirectoryEntry> FindEntry(const PeSections& sections, std::uint64_t resourceRva,
                                        std::uint32_t directory, std::optional<std::uint32_t> id) {
  auto header = sections.Range(resourceRva + directory, 16);
  if (!header) return std::nullopt;
  ByteView headerView(*header);
  std::uint32_t named = *headerView.U16(12);
  std::uint32_t total = named + *headerView.U16(14);
  auto entries = sections.Range(resourceRva + directory + 16, std::uint64_t{total} * 8);
  if (!entries) return std::nullopt;
  ByteView view(*entries);
  for (std::uint32_t i = 0; i < total; ++i) {
    DirectoryEntry entry{*view.U32(i * 8ull), *view.U32(i * 8ull + 4)};
    bool isId = (entry.Name & kHighBit) == 0;
    if (!id || (isId && entry.Name == *id)) return entry;
  }
  return std::nullopt;
}

// The subdirectory an entry points to, relative to the resource data.
std::optional<std::uint32_t> Subdirectory(const std::optional<DirectoryEntry>& entry) {
  if (!entry || (entry->Target & kHighBit) == 0) return std::nullopt;
  return entry->Target & ~kHighBit;
}

}  // namespace

std::optional<std::span<const std::uint8_t>> FindPeVersionResource(
    std::span<const std::uint8_t> bytes) {
  ByteView image(bytes);
  if (image.U16(0) != 0x5A4D) return std::nullopt;  // "MZ"
  auto peOffset = image.U32(0x3C);
  if (!peOffset || image.U32(*peOffset) != 0x00004550) return std::nullopt;  // "PE\0\0"
  std::uint64_t coff = *peOffset + 4ull;
  auto sectionCount = image.U16(coff + 2);
  auto optionalSize = image.U16(coff + 16);
  if (!sectionCount || !optionalSize) return std::nullopt;
  std::uint64_t optional = coff + 20;

  // PE32 and PE32+ differ in where the data directories begin.
  auto magic = image.U16(optional);
  std::uint64_t directoriesAt = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
  if (directoriesAt == 0) return std::nullopt;
  auto directoryCount = image.U32(optional + directoriesAt - 4);
  std::uint64_t resourceEntry = directoriesAt + kResourceDirectoryIndex * 8;
  if (!directoryCount || *directoryCount <= kResourceDirectoryIndex ||
      resourceEntry + 8 > *optionalSize)
    return std::nullopt;
  auto resourceRva = image.U32(optional + resourceEntry);
  if (!resourceRva || *resourceRva == 0) return std::nullopt;

  PeSections sections(image, optional + *optionalSize, *sectionCount);
  // Exactly three levels: type, name, language. Following no more than that keeps a directory
  // that points back at itself from being walked forever.
  auto names = Subdirectory(FindEntry(sections, *resourceRva, 0, kResourceTypeVersion));
  if (!names) return std::nullopt;
  auto languages = Subdirectory(FindEntry(sections, *resourceRva, *names, kVersionResourceName));
  if (!languages) return std::nullopt;
  auto language = FindEntry(sections, *resourceRva, *languages, std::nullopt);
  if (!language || (language->Target & kHighBit) != 0) return std::nullopt;

  auto dataEntry = sections.Range(*resourceRva + language->Target, 16);
  if (!dataEntry) return std::nullopt;
  ByteView data(*dataEntry);
  return sections.Range(*data.U32(0), *data.U32(4));
}

}  // namespace tandor
