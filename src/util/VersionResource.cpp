#include "util/VersionResource.h"

#include "text/TextCase.h"

#include <algorithm>
#include <cstdio>

#include "util/ByteView.h"
#include "util/ElfSection.h"
#include "util/PeResource.h"

namespace tandor {

namespace {

constexpr std::size_t kHeaderSize = 6;  // wLength, wValueLength, wType
constexpr std::uint16_t kTextType = 1;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::size_t kFieldByteLimit = 255;

std::size_t AlignUp(std::size_t offset) {
  return (offset + 3) & ~std::size_t{3};
}

void AppendUtf8(std::string& out, std::uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

// UTF-16LE up to the first NUL (or the end) as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::span<const std::uint8_t> bytes) {
  ByteView view(bytes);
  std::string out;
  for (std::uint64_t at = 0; at + 2 <= view.Size(); at += 2) {
    std::uint32_t unit = *view.U16(at);
    if (unit == 0) break;
    if (unit >= 0xD800 && unit < 0xDC00) {
      auto low = view.U16(at + 2);
      if (low && *low >= 0xDC00 && *low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (*low - 0xDC00));
        at += 2;
        continue;
      }
      unit = 0xFFFD;
    } else if (unit >= 0xDC00 && unit < 0xE000) {
      unit = 0xFFFD;
    }
    AppendUtf8(out, unit);
  }
  return out;
}

// Compares a UTF-16 key with `name` without regard to ASCII case. Keys are ASCII in practice
// and compare in place; lookups run for every field of every file, so they avoid copies.
bool KeyEquals(std::span<const std::uint8_t> key, std::string_view name) {
  ByteView units(key);
  bool ascii = true;
  for (std::uint64_t at = 0; at + 2 <= units.Size() && ascii; at += 2)
    ascii = *units.U16(at) < 0x80;
  if (!ascii) return EqualsIgnoreCase(Utf16ToUtf8(key), name);
  if (key.size() != name.size() * 2) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (LowerAscii(static_cast<char>(key[i * 2])) != LowerAscii(name[i])) return false;
  return true;
}

// One node of the tree: a header, a NUL-terminated UTF-16 key, a value, then child nodes, each
// part starting on a 4-byte boundary. Offsets are into the whole resource.
struct Block {
  std::size_t End = 0;
  std::span<const std::uint8_t> Key;  // UTF-16LE, without its NUL
  std::size_t ValueBegin = 0;
  std::size_t ValueEnd = 0;
  std::size_t ChildrenBegin = 0;
};

// The block at `begin`, when it is well formed and fits before `limit`.
std::optional<Block> ParseBlock(const ByteView& bytes, std::size_t begin, std::size_t limit) {
  auto length = bytes.U16(begin);
  auto valueLength = bytes.U16(begin + 2);
  auto type = bytes.U16(begin + 4);
  if (!length || !valueLength || !type || *length < kHeaderSize || *length > limit - begin)
    return std::nullopt;
  Block block;
  block.End = begin + *length;

  std::size_t keyEnd = begin + kHeaderSize;
  while (keyEnd + 2 <= block.End && *bytes.U16(keyEnd) != 0) keyEnd += 2;
  if (keyEnd + 2 > block.End) return std::nullopt;  // key without its NUL
  block.Key = *bytes.Slice(begin + kHeaderSize, keyEnd - (begin + kHeaderSize));

  // Text values count UTF-16 units, binary values bytes; a length past the block is cut to it.
  std::size_t valueBytes = *type == kTextType ? std::size_t{*valueLength} * 2 : *valueLength;
  block.ValueBegin = std::min(AlignUp(keyEnd + 2), block.End);
  block.ValueEnd = std::min(block.ValueBegin + valueBytes, block.End);
  block.ChildrenBegin = std::min(AlignUp(block.ValueEnd), block.End);
  return block;
}

// The child of `parent` called `key`. Every child is at least a header long, so the walk
// always moves forward and ends at the parent's end.
std::optional<Block> FindChild(const ByteView& bytes, const Block& parent, std::string_view key) {
  std::size_t at = parent.ChildrenBegin;
  while (at + kHeaderSize <= parent.End) {
    auto child = ParseBlock(bytes, at, parent.End);
    if (!child) return std::nullopt;
    if (KeyEquals(child->Key, key)) return child;
    at = AlignUp(child->End);
  }
  return std::nullopt;
}

// The block at `path` below the root: names separated by '\\', empty names skipped.
std::optional<Block> FindBlock(const ByteView& bytes, std::string_view path) {
  auto block = ParseBlock(bytes, 0, bytes.Size());
  while (block && !path.empty()) {
    auto separator = path.find('\\');
    std::string_view name = path.substr(0, separator);
    path = separator == std::string_view::npos ? "" : path.substr(separator + 1);
    if (!name.empty()) block = FindChild(bytes, *block, name);
  }
  return block;
}

std::span<const std::uint8_t> ValueOf(const ByteView& bytes, const Block& block) {
  return *bytes.Slice(block.ValueBegin, block.ValueEnd - block.ValueBegin);
}

}  // namespace

std::string FourPartVersion::ToString() const {
  return std::to_string(Parts[0]) + "." + std::to_string(Parts[1]) + "." +
         std::to_string(Parts[2]) + "." + std::to_string(Parts[3]);
}

std::optional<VersionResource> VersionResource::FromImage(std::span<const std::uint8_t> image) {
  auto block = image.size() >= 2 && image[0] == 'M' && image[1] == 'Z'
                   ? FindPeVersionResource(image)
                   : FindElfSection(image, kVersionSectionName);
  if (!block) return std::nullopt;
  return FromBlock(*block);
}

std::optional<VersionResource> VersionResource::FromBlock(std::span<const std::uint8_t> bytes) {
  ByteView view(bytes);
  auto root = ParseBlock(view, 0, bytes.size());
  if (!root || !KeyEquals(root->Key, "VS_VERSION_INFO")) return std::nullopt;
  return VersionResource(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + root->End));
}

std::optional<std::span<const std::uint8_t>> VersionResource::QueryValue(
    std::string_view subBlock) const {
  ByteView bytes(mBytes);
  auto block = FindBlock(bytes, subBlock);
  if (!block) return std::nullopt;
  return ValueOf(bytes, *block);
}

std::optional<std::string> VersionResource::QueryText(std::string_view subBlock) const {
  auto value = QueryValue(subBlock);
  if (!value) return std::nullopt;
  return Utf16ToUtf8(*value);
}

std::optional<std::string> VersionResource::LanguageKey() const {
  auto value = QueryValue("\\VarFileInfo\\Translation");
  if (!value || value->size() < 4) return std::nullopt;
  ByteView translation(*value);
  std::uint32_t key = (std::uint32_t{*translation.U16(0)} << 16) | *translation.U16(2);
  char text[9];
  std::snprintf(text, sizeof text, "%08X", key);
  return std::string(text);
}

std::optional<FourPartVersion> VersionResource::FixedVersion(std::size_t offset) const {
  auto value = QueryValue("\\");
  if (!value || value->size() < kFixedInfoSize) return std::nullopt;
  ByteView info(*value);
  if (info.U32(0) != kFixedInfoSignature) return std::nullopt;
  std::uint32_t high = *info.U32(offset);
  std::uint32_t low = *info.U32(offset + 4);
  return FourPartVersion{
      {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high & 0xFFFF),
       static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low & 0xFFFF)}};
}

// VS_FIXEDFILEINFO: signature, structure version, file version (2 words), product version.
std::optional<FourPartVersion> VersionResource::FileVersion() const {
  return FixedVersion(8);
}
std::optional<FourPartVersion> VersionResource::ProductVersion() const {
  return FixedVersion(16);
}

FileVersionFields VersionResource::Fields(const CodePage& codePage) const {
  FileVersionFields fields;
  auto language = LanguageKey();
  if (!language) return fields;
  // The string table is looked up once; each name is then one walk over its children.
  ByteView bytes(mBytes);
  auto table = FindBlock(bytes, "\\StringFileInfo\\" + *language);
  auto read = [&](std::string_view name) -> std::string {
    auto string = table ? FindChild(bytes, *table, name) : std::nullopt;
    if (!string) return "?";
    // The limit counts bytes of the machine's code page, never splitting a character.
    std::string encoded = codePage.FromUtf8(Utf16ToUtf8(ValueOf(bytes, *string)));
    return codePage.ToUtf8(encoded.substr(0, codePage.CutPoint(encoded, kFieldByteLimit)));
  };
  fields.CompanyName = read("CompanyName");
  fields.FileDescription = read("FileDescription");
  fields.FileVersion = read("FileVersion");
  fields.InternalName = read("InternalName");
  fields.LegalCopyright = read("LegalCopyright");
  fields.OriginalFileName = read("OriginalFileName");
  fields.ProductName = read("ProductName");
  fields.ProductVersion = read("ProductVersion");
  return fields;
}

FileVersionFields ReadVersionFields(std::span<const std::uint8_t> image, const CodePage& codePage) {
  auto resource = VersionResource::FromImage(image);
  return resource ? resource->Fields(codePage) : FileVersionFields{};
}

}  // namespace tandor
