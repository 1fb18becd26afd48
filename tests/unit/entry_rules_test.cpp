// Deciding entries against real files in a temporary prefix.

#include "sync/EntryRules.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "manifest/InstallationRecord.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "support/TempDir.h"
#include "sync/VersionOrder.h"
#include "util/NormalizeVersion.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using test::WriteFile;

TEST(VersionOrderTest, ComparesWithoutCaseAndRanksSymbolsDigitsLetters) {
  const std::tuple<const char*, const char*, int> cases[] = {{"2", "10", 1},  {"abc", "ABC", 0},
                                                             {"~", "0", -1},  {"9", "a", -1},
                                                             {"Z", "가", -1}, {"1", "1a", -1}};
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (auto [a, b, order] : cases) {
    EXPECT_EQ(sign(CompareVersions(a, b)), order) << a << " vs " << b;
    EXPECT_EQ(sign(CompareVersions(b, a)), -order) << b << " vs " << a;
  }
}

// Parts split at "." (at "," when there is none) are cut or padded with zeros to ten
// characters, not bytes; data-access components lose their dots; other kinds give nothing.
TEST(NormalizeVersionTest, PadsEveryPartToTenCharacters) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"1.00.0210", "", "100000000000000000000210000000"},
      {"1,2,3", "", "100000000020000000003000000000"},
      {"1,2.3", "", "1,200000003000000000"},
      {"12345678901234", "", "12345678901234"},
      {"123456789012.1", "", "12345678901000000000"},
      {"판.1", "", "판0000000001000000000"},
      {"2.81.1117.0", "MdAc", "28111170"},
      {"2.81.1117.0", "DAO", ""}};
  for (auto [version, kind, expected] : cases)
    EXPECT_EQ(NormalizeVersion(version, kind), expected) << version << " " << kind;
}

// A fresh prefix; entries live in C:\Sample.
struct Machine {
  test::TempDir Dir;
  Prefix Root = Prefix::Open(Dir.Path());

  void Place(const std::string& name) {
    if (!name.empty()) WriteFile(Root.ToNative("C:\\Sample\\" + name), "x");
  }
  bool Decide(const FileEntry& entry, const std::string& installed, std::string dataAccess) {
    IniStore ini{CodePage()};
    InstallationRecord record(ini, Root.ToNative("C:\\Sample\\Version.ini"));
    return EntryRules(Root, CodePage(), record, std::move(dataAccess), nullptr)
        .Decide(entry, {.Product = installed});
  }
};

FileEntry Entry(const char* filename, const char* realname, const char* copyMode = "Normal") {
  FileEntry entry;
  entry.Key = entry.Filename = filename;
  entry.Realname = realname;
  entry.LocalPath = entry.ExtractTo = "C:\\Sample";
  entry.Copy = ParseCopyMode(copyMode);
  return entry;
}

// Ordinary entries compare product versions; a data-access package (MDAC*, executed, here
// missing) compares its file version with the machine's components and nothing else.
TEST(EntryRulesTest, CopyModeComparesTheVersionsOfItsKind) {
  const std::tuple<const char*, bool, const char*, const char*, bool> cases[] = {
      {"Normal", false, "1.00.0211", "1.00.0210", true},
      {"Normal", false, "1.0.0.0", "1.0", true},
      {"SkipIfSame", false, "1,00,0210", "1.00.0210", false},
      {"SkipIfExists", false, "2", "", true},
      {"SkipIfExists", false, "2", "1", false},
      {"Force", false, "1", "1", true},
      {"", false, "2", "1", false},
      {"Normal", true, "2.80.1022.0", "2.81.1117.0", false},
      {"Normal", true, "2.81.1117.1", "2.81.1117.0", true},
      {"SkipIfSame", true, "2.80.1022.0", "2.81.1117.0", true},
      {"SkipIfExists", true, "2.81", "?Error", false}};
  Machine machine;
  machine.Place("a.dll");
  for (auto [mode, package, published, installed, download] : cases) {
    FileEntry entry =
        package ? Entry("MDAC_TYP.EXE", "mdac28.exe", mode) : Entry("a.dll", "a.dll", mode);
    entry.Execute = package ? "1" : "";
    entry.FileVersion = package ? published : "9.9.9.9";
    entry.ProductVersion = package ? "9" : published;
    EXPECT_EQ(machine.Decide(entry, package ? "" : installed, package ? installed : "?Error"),
              download)
        << mode << ": " << published << " against " << installed;
  }
}

// Equal versions under "Normal": only a missing file installs. Rows: the names on the server
// and on disk, Execute, the folder an archive extracts to, the one file in C:\Sample.
TEST(EntryRulesTest, MissingFileRule) {
  const std::tuple<const char*, const char*, const char*, const char*, const char*, bool> cases[] =
      {{"a.dll", "a.dll", "", "", "", true},
       {"a.dll", "a.dll", "", "", "a.dll\\inner", true},
       {"a.dll", "b.dll", "", "", "a.dll", false},
       {"Sample.ex_", "Sample.exe", "", "", "Sample.exe", false},
       {"pack.zip", "pack.zip", "", "out", "pack.zip", true},
       {"MDAC_TYP.EXE", "MDAC28.exe", "1", "", "", false},
       {"mdac.zip", "MDAC.zip", "", "out", "", false}};
  for (auto [filename, realname, execute, extractTo, present, download] : cases) {
    Machine machine;
    machine.Place(present);
    FileEntry entry = Entry(filename, realname);
    entry.Execute = execute;
    entry.Extract = *extractTo != '\0';
    if (*extractTo) entry.ExtractTo += std::string("\\") + extractTo;
    entry.ProductVersion = "1.0";
    entry.FileVersion = "2.81";
    EXPECT_EQ(machine.Decide(entry, "1.0", "2.81"), download) << filename << " " << present;
  }
}

// The installed copy's versions come from its file, else from the record (Key in any case).
TEST(EntryRulesTest, InstalledVersionsComeFromTheFileThenTheRecord) {
  const std::string record = "[SAMPLE KEY]\r\nFile Version=1.0\r\nProduct Version=1.1\r\n";
  const std::tuple<const char*, std::size_t, const char*, const char*> cases[] = {
      {"all_strings.exe", 0, record.c_str(), "2.5.3.1234 2.5 beta"},
      {"all_strings.exe", 1 << 20, record.c_str(), "2.5.3.1234 2.5 beta"},
      {nullptr, 0, record.c_str(), "1.0 1.1"},
      {"", 0, record.c_str(), "1.0 1.1"},
      {"other_language.exe", 0, record.c_str(), "3.0.0.1 ?"}};
  for (auto [fixture, padding, recorded, versions] : cases) {
    Machine machine;
    const std::string file =
        fixture && *fixture ? test::ReadFile(fs::path(TANDOR_VERSION_FIXTURES) / fixture) : "text";
    if (fixture)
      WriteFile(machine.Root.ToNative("C:\\a\\a.dll"), file + std::string(padding, '\0'));
    WriteFile(machine.Root.ToNative("C:\\a\\Version.ini"), recorded);
    FileEntry entry = Entry("a.dll", "a.dll");
    entry.Key = "Sample Key";
    entry.LocalPath = "C:\\a";
    IniStore ini{CodePage()};
    InstallationRecord installed(ini, machine.Root.ToNative("C:\\a\\Version.ini"));
    const InstalledVersions read =
        EntryRules(machine.Root, CodePage(), installed, "?Error", nullptr)
            .ReadInstalledVersions(entry);
    EXPECT_EQ(read.File + " " + read.Product, versions)
        << (fixture ? fixture : "no file") << " " << padding;
  }
}

}  // namespace
}  // namespace tandor
