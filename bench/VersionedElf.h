#pragma once
// Small ELF files that carry a version resource in their .tandor_version section, for benchmarks
// that need many installed files with known versions. Header-only, so benchmarks that link only
// the core library can use it.

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tandor::test {

struct VersionSpec {
  std::array<std::uint16_t, 4> FileVersion{1, 0, 0, 0};
  std::array<std::uint16_t, 4> ProductVersion{1, 0, 0, 0};
  std::uint16_t Language = 0x0412;
  std::uint16_t CodePage = 0x04B0;
  // Name and value of each string of the string table; ASCII only.
  std::vector<std::pair<std::string, std::string>> Strings;
};

namespace detail {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}
inline void Put32(Bytes& out, std::uint32_t value) {
  Put16(out, static_cast<std::uint16_t>(value));
  Put16(out, static_cast<std::uint16_t>(value >> 16));
}
inline void Put64(Bytes& out, std::uint64_t value) {
  Put32(out, static_cast<std::uint32_t>(value));
  Put32(out, static_cast<std::uint32_t>(value >> 32));
}
inline void Align4(Bytes& out) {
  while (out.size() % 4) out.push_back(0);
}
inline void PutWide(Bytes& out, const std::string& text) {
  for (char c : text) Put16(out, static_cast<std::uint8_t>(c));
  Put16(out, 0);
}

// One node of the resource tree: length, value length, type, key, value, children.
inline Bytes Node(const std::string& key, const Bytes& value, std::uint16_t valueLength,
                  std::uint16_t type, const std::vector<Bytes>& children) {
  Bytes out(6, 0);
  PutWide(out, key);
  Align4(out);
  out.insert(out.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    Align4(out);
    out.insert(out.end(), child.begin(), child.end());
  }
  out[0] = static_cast<std::uint8_t>(out.size());
  out[1] = static_cast<std::uint8_t>(out.size() >> 8);
  out[2] = static_cast<std::uint8_t>(valueLength);
  out[3] = static_cast<std::uint8_t>(valueLength >> 8);
  out[4] = static_cast<std::uint8_t>(type);
  out[5] = static_cast<std::uint8_t>(type >> 8);
  return out;
}

inline std::string Hex8(std::uint32_t value) {
  const char* digits = "0123456789ABCDEF";
  std::string out(8, '0');
  for (int i = 7; i >= 0; --i, value >>= 4) out[static_cast<std::size_t>(i)] = digits[value & 15];
  return out;
}

}  // namespace detail

// The VS_VERSIONINFO block for `wanted`.
inline std::vector<std::uint8_t> BuildVersionBlock(const VersionSpec& wanted) {
  using namespace detail;
  auto ms = [](const std::array<std::uint16_t, 4>& v) {
    return static_cast<std::uint32_t>(v[0]) << 16 | v[1];
  };
  auto ls = [](const std::array<std::uint16_t, 4>& v) {
    return static_cast<std::uint32_t>(v[2]) << 16 | v[3];
  };
  Bytes fixed;
  for (std::uint32_t value :
       {0xFEEF04BDu, 0x00010000u, ms(wanted.FileVersion), ls(wanted.FileVersion),
        ms(wanted.ProductVersion), ls(wanted.ProductVersion), 0x3Fu, 0u, 4u, 1u, 0u, 0u, 0u})
    Put32(fixed, value);

  std::vector<Bytes> strings;
  for (const auto& [name, value] : wanted.Strings) {
    Bytes text;
    PutWide(text, value);
    strings.push_back(Node(name, text, static_cast<std::uint16_t>(value.size() + 1), 1, {}));
  }
  const std::string key = Hex8(static_cast<std::uint32_t>(wanted.Language) << 16 | wanted.CodePage);
  Bytes table = Node(key, {}, 0, 1, strings);
  Bytes stringInfo = Node("StringFileInfo", {}, 0, 1, {table});
  Bytes translation;
  Put16(translation, wanted.Language);
  Put16(translation, wanted.CodePage);
  Bytes var = Node("Translation", translation, 4, 0, {});
  Bytes varInfo = Node("VarFileInfo", {}, 0, 1, {var});
  return Node("VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), 0,
              {stringInfo, varInfo});
}

// A 64-bit little-endian ELF file whose only contents are `block` in .tandor_version.
inline std::vector<std::uint8_t> BuildVersionedElf(const std::vector<std::uint8_t>& block) {
  using namespace detail;
  const std::string names = std::string("\0.shstrtab\0.tandor_version\0", 27);
  Bytes out;
  // File header.
  const std::uint8_t ident[16] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
  out.insert(out.end(), ident, ident + 16);
  Put16(out, 1);   // relocatable
  Put16(out, 62);  // x86-64
  Put32(out, 1);
  Put64(out, 0);
  Put64(out, 0);
  const std::uint64_t namesAt = 64;
  const std::uint64_t blockAt = (namesAt + names.size() + 7) / 8 * 8;
  const std::uint64_t tableAt = (blockAt + block.size() + 7) / 8 * 8;
  Put64(out, tableAt);
  Put32(out, 0);
  Put16(out, 64);  // header size
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, 64);  // section header size
  Put16(out, 3);   // sections
  Put16(out, 1);   // names section
  out.insert(out.end(), names.begin(), names.end());
  out.resize(blockAt, 0);
  out.insert(out.end(), block.begin(), block.end());
  out.resize(tableAt, 0);
  auto section = [&out](std::uint32_t name, std::uint32_t type, std::uint64_t offset,
                        std::uint64_t size) {
    Put32(out, name);
    Put32(out, type);
    Put64(out, 0);
    Put64(out, 0);
    Put64(out, offset);
    Put64(out, size);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, 1);
    Put64(out, 0);
  };
  section(0, 0, 0, 0);
  section(1, 3, namesAt, names.size());   // .shstrtab
  section(11, 1, blockAt, block.size());  // .tandor_version
  return out;
}

// Writes a file with a version resource as `wanted` describes, creating its folders.
inline void WriteVersionedFile(const std::filesystem::path& file, const VersionSpec& wanted) {
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
  std::vector<std::uint8_t> bytes = BuildVersionedElf(BuildVersionBlock(wanted));
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace tandor::test
