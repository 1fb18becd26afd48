// Version fields of real MinGW-built programs, and of damaged copies: never a crash or endless
// walk.

#include "util/VersionResource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Prefix.h"
#include "support/FileVersionPrinter.h"
#include "support/TempDir.h"
#include "util/FileVersion.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

fs::path Fixture(std::string_view name) {
  return fs::path(TANDOR_VERSION_FIXTURES) / name;
}
std::span<const std::uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}
// Little-endian fields of a file held in a string.
std::size_t Get(const std::string& bytes, std::size_t at, int width) {
  std::size_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | std::uint8_t(bytes.at(at + i));
  return value;
}
void Put(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.at(at + i) = static_cast<char>(value >> (8 * i));
}

FileVersionFields Read(const fs::path& file, int codePage = 65001) {
  test::TempDir root;
  Prefix prefix(root.Path());
  return VersionInfoQuery(prefix, CodePage(codePage)).QueryFileVersionInfo(file.string());
}

const FileVersionFields kAllStrings{
    "Harrowin Software",           "Sample client library", "2.05.1234", "SampleLib",
    "Copyright (C) 2004 Harrowin", "SampleLib.dll",         "Sample",    "2.5 beta"};
const FileVersionFields kUnknown{"?", "?", "?", "?", "?", "?", "?", "?"};

// The Korean program's fields, its description of 140 Korean characters cut to `kept`.
FileVersionFields Korean(std::size_t kept, const char* copyright) {
  std::string description;
  for (std::size_t i = 0; i < kept; ++i)
    description += std::string("가나다라마바사아자차카타파하").substr(i % 14 * 3, 3);
  return {"하로윈 소프트", description, "1.00.0005", "한글", copyright, "한글.exe", "견본", "1.0"};
}

// PE32+ and PE32, a missing string ("OriginalFilename" answers "OriginalFileName"), strings
// not under the first language, no resource, 255-byte cuts in two code pages, ELF of both kinds.
TEST(VersionResourceTest, ReadsTheFieldsAndFileVersionOfRealPrograms) {
  // clang-format off
  const FileVersionFields own{"Harrowin", "Tandor 자동 업데이트", "1.00.0210", "Tandor", "Copyright (C) Harrowin", "Tandor", "Tandor", "1.00.0210"};
  const std::tuple<const char*, int, FileVersionFields, const char*> cases[] = {
      {"all_strings.exe", 65001, kAllStrings, "2.5.3.1234"},
      {"all_strings32.exe", 65001, kAllStrings, "2.5.3.1234"},
      {"missing_copyright.exe", 1252, {"Example Corp", "Example tool", "1.2.0.7", "extool", "?", "extool.exe", "Example", "1.2"}, "1.2.0.7"},
      {"other_language.exe", 65001, kUnknown, "3.0.0.1"},
      {"no_version.exe", 65001, {}, ""},
      {"korean.exe", 65001, Korean(85, "저작권 © 하로윈"), "1.0.0.5"},
      {"korean.exe", 949, Korean(127, "저작권 ? 하로윈"), "1.0.0.5"},
      {"own_version64.o", 65001, own, "1.0.0.210"},
      {"own_version32be.o", 65001, own, "1.0.0.210"}};
  // clang-format on
  for (const auto& [file, codePage, fields, fileVersion] : cases) {
    EXPECT_EQ(Read(Fixture(file), codePage), fields) << file << " " << codePage;
    EXPECT_EQ(GetFileVersion(Fixture(file)), fileVersion) << file;
  }
}

// Where the structures of the fixture PE file lie: it has one resource section and resource.
struct PeLayout {
  std::size_t Header, OptionalHeader, Section, Types, DataEntry, Resource;
};

PeLayout Locate(const std::string& pe) {
  PeLayout l{};
  l.Header = Get(pe, 0x3C, 4);
  l.OptionalHeader = l.Header + 24;
  l.Section = l.OptionalHeader + Get(pe, l.Header + 20, 2);
  while (std::memcmp(pe.data() + l.Section, ".rsrc", 5) != 0) l.Section += 40;
  auto fileOf = [&](std::size_t rva) {
    return Get(pe, l.Section + 20, 4) + rva - Get(pe, l.Section + 12, 4);
  };
  l.Types = fileOf(Get(pe, l.OptionalHeader + 128, 4));
  const std::size_t names = l.Types + (Get(pe, l.Types + 20, 4) & 0x7FFFFFFF);
  const std::size_t languages = l.Types + (Get(pe, names + 20, 4) & 0x7FFFFFFF);
  l.DataEntry = l.Types + Get(pe, languages + 20, 4);
  l.Resource = fileOf(Get(pe, l.DataEntry, 4));
  return l;
}

std::size_t ElfSection(const std::string& elf, std::size_t index) {
  return Get(elf, 0x28, 4) + index * Get(elf, 0x3A, 2);
}
std::size_t VersionSection(const std::string& elf) {
  const std::size_t names = Get(elf, ElfSection(elf, Get(elf, 0x3E, 2)) + 0x18, 4);
  for (std::size_t i = 1; i < Get(elf, 0x3C, 2); ++i)
    if (std::string(elf.data() + names + Get(elf, ElfSection(elf, i), 4)) == ".tandor_version")
      return ElfSection(elf, i);
  return 0;
}

// One row per bound the reader keeps, and three cut files of the fuzz target's corpus.
TEST(VersionResourceTest, DamagedFilesGiveEmptyFields) {
  const fs::path corpus = fs::path(TANDOR_SOURCE_DIR) / "tests/fuzz/corpus";
  const std::string pe = ReadFile(Fixture("all_strings.exe"));
  const std::string elf = ReadFile(Fixture("own_version64.o"));
  const PeLayout at = Locate(pe);
  const std::size_t version = VersionSection(elf);
  ASSERT_NE(version, 0u);
  using Pokes = std::vector<std::tuple<std::size_t, std::uint64_t, int>>;  // offset, value, width
  // clang-format off
  const struct { std::string File; const char* Name; Pokes Damage; FileVersionFields Expected = {}; } cases[] = {
      {pe, "no MZ", {{0, 'X', 1}}},
      {pe, "65535 sections, none the resource one", {{at.Header + 6, 0xFFFF, 2}, {at.Section + 12, 0xFFFFFF00, 4}}},
      {pe, "resource directory in no section", {{at.OptionalHeader + 128, 0x7FFF0000, 4}}},
      {pe, "resource section of 4 GB", {{at.Section + 16, 0xFFFFFFFF, 4}, {at.Section + 20, 0xFFFFFFF0, 4}}},
      {pe, "131070 type entries", {{at.Types + 12, 0xFFFFFFFF, 4}}},
      {pe, "name level loops back to the types", {{at.Types + 20, 0x80000000, 4}}},
      {pe, "data offset overflowing 32 bits", {{at.DataEntry, 0xFFFFFFF8, 4}}},
      {pe, "data one byte too short", {{at.DataEntry + 4, Get(pe, at.Resource, 2) - 1, 4}}},
      {pe, "root key without its NUL", {{at.Resource, 36, 2}}},
      {pe, "StringFileInfo (after the root's 92 bytes) renamed", {{at.Resource + 98, 'Z', 1}}, kUnknown},
      {elf, "section table past the end", {{0x28, 0xFFFFFFFFFFFFFF00, 8}}},
      {elf, "no version section, 2^64 - 1 of them", {{version, 0, 4}, {0x3C, 0, 2}, {ElfSection(elf, 0) + 0x20, ~0ull, 8}}},
      {elf, "section size of 4 GB", {{version + 0x20, 0xFFFFFFFF, 8}}},
      {elf, "section size and offset that wrap", {{version + 0x18, 0x10, 8}, {version + 0x20, ~7ull, 8}}},
      {elf, "section occupying no file space", {{version + 4, 8, 4}}},
      {ReadFile(corpus / "cut_elf64_object"), "ELF cut short", {}},
      {ReadFile(corpus / "cut_pe32plus_header"), "PE cut in its headers", {}},
      {ReadFile(corpus / "cut_pe32plus_resource"), "PE cut in its resource", {}}};
  // clang-format on
  test::TempDir temp;
  for (const auto& c : cases) {
    std::string bytes = c.File;
    for (auto [offset, value, width] : c.Damage) Put(bytes, offset, value, width);
    test::WriteFile(temp / c.Name, bytes);
    EXPECT_EQ(Read(temp / c.Name), c.Expected) << c.Name;
    EXPECT_EQ(ReadVersionFields(Bytes(bytes), CodePage()), c.Expected) << c.Name;
  }
}

TEST(VersionResourceTest, RawBlockAnswersQueriesLikeTheResourceFunctions) {
  const std::string raw = ReadFile(Fixture("own_version.bin"));
  auto resource = VersionResource::FromBlock(Bytes(raw));
  ASSERT_TRUE(resource);
  // Names compare without regard to case; empty path parts are skipped.
  EXPECT_EQ(resource->QueryText("stringfileinfo\\\\041204B0\\InternalName\\"), "Tandor");
  EXPECT_FALSE(resource->QueryText("\\StringFileInfo\\041204B0\\InternalName\\More"));
  EXPECT_EQ(resource->ProductVersion()->ToString(), "1.0.0.210");
  // A shortened structure is refused.
  EXPECT_FALSE(VersionResource::FromBlock(Bytes(raw.substr(0, raw.size() - 1))));
}

}  // namespace
}  // namespace tandor
