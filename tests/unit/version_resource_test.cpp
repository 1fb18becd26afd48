// Truncated, corrupt and hostile PE and ELF files: the reader gives empty fields (or "?" where
// only the strings are damaged), never a crash, an endless walk or a huge allocation.

#include "util/VersionResource.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "platform/Prefix.h"
#include "support/FileVersionPrinter.h"
#include "support/TempDir.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;

fs::path Fixture(std::string_view name) {
  return fs::path(TANDOR_VERSION_FIXTURES) / name;
}

std::span<const std::uint8_t> AsBytes(const std::string& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

std::uint32_t Get32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes.at(at + i));
  return value;
}
std::uint16_t Get16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes.at(at)) |
                                    (static_cast<std::uint8_t>(bytes.at(at + 1)) << 8));
}
void Put(std::string& bytes, std::size_t at, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) bytes.at(at + i) = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Where the structures of a fixture PE file lie, found the simple way: the fixtures have one
// resource section and one resource.
struct PeLayout {
  std::size_t Header, OptionalHeader, SectionTable, ResourceSection, TypeDirectory;
  std::size_t NameDirectory, LanguageDirectory, DataEntry, Resource;
};

PeLayout Locate(const std::string& pe) {
  PeLayout l{};
  l.Header = Get32(pe, 0x3C);
  l.OptionalHeader = l.Header + 24;
  l.SectionTable = l.OptionalHeader + Get16(pe, l.Header + 20);
  std::uint32_t resourceRva = Get32(pe, l.OptionalHeader + 112 + 16);
  for (std::size_t s = l.SectionTable;; s += 40) {
    if (std::memcmp(pe.data() + s, ".rsrc", 5) == 0) {
      l.ResourceSection = s;
      break;
    }
  }
  std::uint32_t sectionRva = Get32(pe, l.ResourceSection + 12);
  std::uint32_t sectionFile = Get32(pe, l.ResourceSection + 20);
  auto fileOf = [&](std::uint32_t rva) { return sectionFile + (rva - sectionRva); };
  l.TypeDirectory = fileOf(resourceRva);
  l.NameDirectory = l.TypeDirectory + (Get32(pe, l.TypeDirectory + 20) & 0x7FFFFFFF);
  l.LanguageDirectory = l.TypeDirectory + (Get32(pe, l.NameDirectory + 20) & 0x7FFFFFFF);
  l.DataEntry = l.TypeDirectory + Get32(pe, l.LanguageDirectory + 20);
  l.Resource = fileOf(Get32(pe, l.DataEntry));
  return l;
}

enum class Expect { Empty, AllMissing, Intact };

struct Damage {
  const char* Name;
  std::function<void(std::string&, const PeLayout&)> Apply;
  Expect Result;
};

FileVersionFields Read(const fs::path& file) {
  test::TempDir prefixRoot;
  Prefix prefix(prefixRoot.Path());
  VersionInfoQuery query(prefix, CodePage());
  return query.QueryFileVersionInfo(file.string());
}

TEST(VersionResourceHostileTest, DamagedPeFilesGiveEmptyFields) {
  const std::string original = test::ReadFile(Fixture("all_strings.exe"));
  const PeLayout layout = Locate(original);
  const FileVersionFields intact = Read(Fixture("all_strings.exe"));
  ASSERT_EQ(intact.InternalName, "SampleLib");

  const Damage damages[] = {
      {"untouched", [](std::string&, const PeLayout&) {}, Expect::Intact},
      {"no MZ", [](std::string& b, const PeLayout&) { b[0] = 'X'; }, Expect::Empty},
      {"65535 sections claimed",
       [](std::string& b, const PeLayout& l) {
         Put(b, l.Header + 6, 0xFFFF, 2);
         // Hide the real resource section so the walk has to go past the end.
         Put(b, l.ResourceSection + 12, 0xFFFFFF00, 4);
       },
       Expect::Empty},
      {"resource directory at no section",
       [](std::string& b, const PeLayout& l) { Put(b, l.OptionalHeader + 128, 0x7FFF0000, 4); },
       Expect::Empty},
      {"resource section raw size of 4 GB",
       [](std::string& b, const PeLayout& l) {
         Put(b, l.ResourceSection + 16, 0xFFFFFFFF, 4);
         Put(b, l.ResourceSection + 20, 0xFFFFFFF0, 4);
       },
       Expect::Empty},
      {"type directory with 131070 entries",
       [](std::string& b, const PeLayout& l) {
         Put(b, l.TypeDirectory + 12, 0xFFFF, 2);
         Put(b, l.TypeDirectory + 14, 0xFFFF, 2);
       },
       Expect::Empty},
      {"name level loops back to the type level",
       [](std::string& b, const PeLayout& l) { Put(b, l.TypeDirectory + 20, 0x80000000, 4); },
       Expect::Empty},
      {"resource data where sums overflow 32 bits",
       [](std::string& b, const PeLayout& l) { Put(b, l.DataEntry, 0xFFFFFFF8, 4); },
       Expect::Empty},
      {"resource size one byte too small",
       [](std::string& b, const PeLayout& l) {
         Put(b, l.DataEntry + 4, Get16(b, l.Resource) - 1, 4);
       },
       Expect::Empty},
      {"root key without its NUL",
       [](std::string& b, const PeLayout& l) {
         Put(b, l.Resource, 36, 2);  // the block ends inside the key
       },
       Expect::Empty},
      // StringFileInfo follows the 40-byte root header and key and the 52-byte fixed info.
      {"StringFileInfo renamed",
       [](std::string& b, const PeLayout& l) { b[l.Resource + 92 + 6] = 'Z'; }, Expect::AllMissing},
  };

  for (const Damage& damage : damages) {
    test::TempDir temp;
    std::string bytes = original;
    damage.Apply(bytes, layout);
    test::WriteFile(temp / "damaged.dll", bytes);
    const FileVersionFields missing{"?", "?", "?", "?", "?", "?", "?", "?"};
    EXPECT_EQ(Read(temp / "damaged.dll"), damage.Result == Expect::Intact ? intact
                                          : damage.Result == Expect::AllMissing
                                              ? missing
                                              : FileVersionFields{})
        << damage.Name;
  }
}

// Inputs kept from the fuzz target's corpus, read the way the target reads them. Those named
// cut_* are intact files cut short, which must give no fields at all rather than some.
TEST(VersionResourceHostileTest, CorpusInputsGiveAllOrNothing) {
  const fs::path corpus = fs::path(TANDOR_SOURCE_DIR) / "tests" / "fuzz" / "corpus";
  int cut = 0;
  for (const auto& file : fs::directory_iterator(corpus)) {
    const std::string name = file.path().filename().string();
    const std::string bytes = test::ReadFile(file.path());
    const FileVersionFields fields = ReadVersionFields(AsBytes(bytes), CodePage(949));
    if (name.starts_with("cut_")) {
      ++cut;
      EXPECT_EQ(fields, FileVersionFields{}) << name;
      EXPECT_EQ(Read(file.path()), FileVersionFields{}) << name;
    }
    if (auto resource = VersionResource::FromBlock(AsBytes(bytes))) {
      (void)resource->Fields(CodePage());
      (void)resource->FileVersion();
    }
  }
  EXPECT_GE(cut, 3);
}

// ELF64 little-endian header fields of a relocatable object.
struct ElfDamage {
  const char* Name;
  std::function<void(std::string&)> Apply;
};

std::size_t SectionHeader(const std::string& elf, std::size_t index) {
  return static_cast<std::size_t>(Get32(elf, 0x28)) + index * Get16(elf, 0x3A);
}

std::size_t VersionSectionIndex(const std::string& elf) {
  std::size_t names = SectionHeader(elf, Get16(elf, 0x3E));
  std::size_t namesOffset = Get32(elf, names + 0x18);
  for (std::size_t i = 0; i < Get16(elf, 0x3C); ++i) {
    const char* name = elf.data() + namesOffset + Get32(elf, SectionHeader(elf, i));
    if (std::string(name) == ".tandor_version") return i;
  }
  return 0;
}

TEST(VersionResourceHostileTest, DamagedElfFilesGiveEmptyFields) {
  const std::string original = test::ReadFile(Fixture("own_version64.o"));
  const std::size_t version = SectionHeader(original, VersionSectionIndex(original));
  ASSERT_NE(VersionSectionIndex(original), 0u);

  const ElfDamage damages[] = {
      {"section table past the end", [](std::string& b) { Put(b, 0x28, 0xFFFFFFFFFFFFFF00, 8); }},
      {"extended section count of 2^64 - 1",
       [](std::string& b) {
         // Rename the version section so the walk has to go on to the end.
         Put(b, SectionHeader(b, VersionSectionIndex(b)), 0, 4);
         Put(b, 0x3C, 0, 2);
         Put(b, SectionHeader(b, 0) + 0x20, 0xFFFFFFFFFFFFFFFF, 8);
       }},
      {"section size of 4 GB", [&](std::string& b) { Put(b, version + 0x20, 0xFFFFFFFF, 8); }},
      {"section size and offset that wrap",
       [&](std::string& b) {
         Put(b, version + 0x18, 0x10, 8);
         Put(b, version + 0x20, 0xFFFFFFFFFFFFFFF8, 8);
       }},
      {"section occupying no file space", [&](std::string& b) { Put(b, version + 4, 8, 4); }},
  };
  for (const ElfDamage& damage : damages) {
    test::TempDir temp;
    std::string bytes = original;
    damage.Apply(bytes);
    test::WriteFile(temp / "Tandor", bytes);
    EXPECT_EQ(Read(temp / "Tandor"), FileVersionFields{}) << damage.Name;
    EXPECT_EQ(GetFileVersion(temp / "Tandor"), "") << damage.Name;
  }
}

TEST(VersionResourceHostileTest, RawBlockAnswersQueriesLikeTheResourceFunctions) {
  const std::string raw = test::ReadFile(Fixture("own_version.bin"));
  auto resource = VersionResource::FromBlock(AsBytes(raw));
  ASSERT_TRUE(resource);
  EXPECT_EQ(resource->QueryText("\\StringFileInfo\\041204B0\\InternalName"), "Tandor");
  // Names compare without regard to case; empty path parts are skipped.
  EXPECT_EQ(resource->QueryText("StringFileInfo\\\\041204B0\\InternalName\\"), "Tandor");
  EXPECT_FALSE(resource->QueryText("\\StringFileInfo\\040904B0\\InternalName"));
  EXPECT_FALSE(resource->QueryText("\\StringFileInfo\\041204B0\\InternalName\\More"));
  EXPECT_EQ(resource->QueryValue("\\")->size(), 52u);
  EXPECT_EQ(resource->QueryValue("\\VarFileInfo\\Translation")->size(), 4u);
  // The trailing bytes after the structure do not matter; a shortened one is refused.
  EXPECT_TRUE(VersionResource::FromBlock(AsBytes(raw + std::string(64, '\xEE'))));
  EXPECT_FALSE(VersionResource::FromBlock(AsBytes(raw.substr(0, raw.size() - 1))));
}

}  // namespace
}  // namespace tandor
