#include "util/ElfSection.h"

#include <algorithm>
#include <cstring>

#include "util/ByteView.h"

namespace tandor {

namespace {

constexpr std::uint32_t kSectionNoBits = 8;       // SHT_NOBITS: occupies no file space
constexpr std::uint16_t kExtendedIndex = 0xFFFF;  // SHN_XINDEX

// Where the fields we need sit in the file and section headers of one ELF class.
struct ElfLayout {
  bool Wide;  // 64-bit
  std::uint64_t SectionTableField, EntrySizeField, CountField, NamesIndexField;
  std::uint64_t MinEntrySize;
  std::uint64_t TypeField, OffsetField, SizeField, LinkField;
};

constexpr ElfLayout kElf32{false, 0x20, 0x2E, 0x30, 0x32, 40, 4, 0x10, 0x14, 0x18};
constexpr ElfLayout kElf64{true, 0x28, 0x3A, 0x3C, 0x3E, 64, 4, 0x18, 0x20, 0x28};

struct SectionHeader {
  std::uint32_t NameOffset = 0;
  std::uint32_t Type = 0;
  std::uint64_t Offset = 0;
  std::uint64_t Size = 0;
  std::uint32_t Link = 0;
};

class ElfReader {
 public:
  ElfReader(const ByteView& image, const ElfLayout& layout) : mImage(image), mLayout(layout) {}

  std::optional<std::uint64_t> Address(std::uint64_t offset) const {
    if (mLayout.Wide) return mImage.U64(offset);
    auto narrow = mImage.U32(offset);
    return narrow ? std::optional<std::uint64_t>(*narrow) : std::nullopt;
  }

  std::optional<SectionHeader> Section(std::uint64_t table, std::uint64_t entrySize,
                                       std::uint64_t index) const {
    std::uint64_t at = table + index * entrySize;
    auto name = mImage.U32(at);
    auto type = mImage.U32(at + mLayout.TypeField);
    auto offset = Address(at + mLayout.OffsetField);
    auto size = Address(at + mLayout.SizeField);
    auto link = mImage.U32(at + mLayout.LinkField);
    if (!name || !type || !offset || !size || !link) return std::nullopt;
    return SectionHeader{*name, *type, *offset, *size, *link};
  }

  std::optional<std::span<const std::uint8_t>> Contents(const SectionHeader& section) const {
    if (section.Type == kSectionNoBits) return std::nullopt;
    return mImage.Slice(section.Offset, section.Size);
  }

 private:
  const ByteView& mImage;
  const ElfLayout& mLayout;
};

// The NUL-terminated name at `offset` of the section-name table.
std::optional<std::string_view> NameAt(std::span<const std::uint8_t> names, std::uint64_t offset) {
  if (offset >= names.size()) return std::nullopt;
  auto rest = names.subspan(static_cast<std::size_t>(offset));
  auto end = std::find(rest.begin(), rest.end(), std::uint8_t{0});
  if (end == rest.end()) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(rest.data()),
                          static_cast<std::size_t>(end - rest.begin()));
}

}  // namespace

std::optional<std::span<const std::uint8_t>> FindElfSection(std::span<const std::uint8_t> bytes,
                                                            std::string_view name) {
  if (bytes.size() < 16 || std::memcmp(bytes.data(),
                                       "\x7F"
                                       "ELF",
                                       4) != 0)
    return std::nullopt;
  std::uint8_t elfClass = bytes[4];
  std::uint8_t byteOrder = bytes[5];
  if ((elfClass != 1 && elfClass != 2) || (byteOrder != 1 && byteOrder != 2)) return std::nullopt;
  const ElfLayout& layout = elfClass == 2 ? kElf64 : kElf32;
  ByteView image(bytes, byteOrder == 2);
  ElfReader reader(image, layout);

  auto table = reader.Address(layout.SectionTableField);
  auto entrySize = image.U16(layout.EntrySizeField);
  auto count = image.U16(layout.CountField);
  auto namesIndex = image.U16(layout.NamesIndexField);
  if (!table || !entrySize || !count || !namesIndex || *table == 0 ||
      *entrySize < layout.MinEntrySize || *table > image.Size())
    return std::nullopt;

  // Files with very many sections keep the true count and name-table index in section 0.
  std::uint64_t sectionCount = *count;
  std::uint64_t namesSection = *namesIndex;
  if (sectionCount == 0 || namesSection == kExtendedIndex) {
    auto first = reader.Section(*table, *entrySize, 0);
    if (!first) return std::nullopt;
    if (sectionCount == 0) sectionCount = first->Size;
    if (namesSection == kExtendedIndex) namesSection = first->Link;
  }
  // Never walk more headers than the file can hold, whatever the count claims.
  sectionCount = std::min(sectionCount, (image.Size() - *table) / *entrySize);
  if (namesSection >= sectionCount) return std::nullopt;

  auto namesHeader = reader.Section(*table, *entrySize, namesSection);
  if (!namesHeader) return std::nullopt;
  auto names = reader.Contents(*namesHeader);
  if (!names) return std::nullopt;

  for (std::uint64_t i = 0; i < sectionCount; ++i) {
    auto section = reader.Section(*table, *entrySize, i);
    if (!section) return std::nullopt;
    if (NameAt(*names, section->NameOffset) == name) return reader.Contents(*section);
  }
  return std::nullopt;
}

}  // namespace tandor
