// Deciding entries: the Allow/Block answer, every copy mode for ordinary entries and data-access
// packages, and the missing-file rule, against real files in a temporary prefix.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "manifest/InstallationRecord.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "support/TempDir.h"
#include "sync/EntryRules.h"
#include "sync/VersionOrder.h"

namespace tandor {
namespace {

using test::TempDir;
using test::WriteFile;

class DecideTest : public ::testing::Test {
 protected:
  void Place(const std::string& windowsPath) { WriteFile(mPrefix.ToNative(windowsPath), "x"); }

  EntryRules Rules(std::string dataAccessVersion = "?Error") {
    return EntryRules(mPrefix, CodePage(), mRecord, std::move(dataAccessVersion),
                      [this](const std::string& allow, const std::string& block) {
                        mAllowCalls.emplace_back(allow, block);
                        return mAllowAnswer;
                      });
  }

  // An ordinary entry whose file is in place: only the copy mode decides.
  FileEntry Ordinary(const char* copyMode, const char* published, const char* installed) {
    FileEntry entry;
    entry.Key = entry.Filename = entry.Realname = "a.dll";
    entry.LocalPath = entry.ExtractTo = "C:\\Sample";
    entry.CopyMode = copyMode;
    entry.ProductVersion = published;
    entry.InstalledProductVersion = installed;
    Place("C:\\Sample\\a.dll");
    return entry;
  }

  TempDir mDir;
  Prefix mPrefix = Prefix::Open(mDir.Path());
  IniStore mIni{CodePage()};
  InstallationRecord mRecord{mIni, mPrefix.ToNative("C:\\Sample\\Version.ini")};
  bool mAllowAnswer = true;
  std::vector<std::pair<std::string, std::string>> mAllowCalls;
};

TEST(VersionOrderTest, ComparesWithoutCaseAndRanksSymbolsDigitsLetters) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const std::vector<Case> cases = {
      {"2", "10", 1}, {"abc", "ABC", 0}, {" 1", "1", -1},
      {"9", "a", -1}, {"Z", "가", -1},   {"2008-07-24 09:05:00", "2008-07-25 00:00:00", -1},
  };
  for (const Case& c : cases) {
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    EXPECT_EQ(sign(CompareVersions(c.a, c.b)), c.sign) << c.a << " vs " << c.b;
    EXPECT_EQ(sign(CompareVersions(c.b, c.a)), -c.sign) << c.b << " vs " << c.a;
  }
}

TEST_F(DecideTest, CopyModeOfAnOrdinaryEntryComparesProductVersions) {
  struct Case {
    const char* mode;
    const char* published;
    const char* installed;
    bool download;
  };
  const std::vector<Case> cases = {
      {"Normal", "1.00.0211", "1.00.0210", true},
      {"Normal", "1.0.0.0", "1.0", true},  // the longer text ranks above its prefix
      {"Normal", "", "1.0", false},        // an empty version is never newer
      {"Normal", "1.0", "?", true},        // "?" ranks below every number
      {"NORMAL", "2", "1", true},
      {"SkipIfSame", "1,00,0210", "1.00.0210", false},  // same after normalising
      {"SkipIfExists", "2", "", true},
      {"SkipIfExists", "2", "1", false},
      {"Force", "1", "1", true},
      {"", "2", "1", false},
      {"Normal ", "2", "1", false},
  };
  EntryRules rules = Rules();
  for (const Case& c : cases) {
    FileEntry entry = Ordinary(c.mode, c.published, c.installed);
    entry.FileVersion = "9.9.9.9";  // takes no part for ordinary entries
    entry.InstalledFileVersion = "0.0.0.1";
    rules.Decide(entry);
    EXPECT_EQ(entry.Download, c.download)
        << c.mode << ": " << c.published << " against " << c.installed;
  }
}

TEST_F(DecideTest, CopyModeOfADataAccessPackageComparesWithTheMachine) {
  struct Case {
    const char* mode;
    const char* fileVersion;
    const char* dataAccess;
    bool download;
  };
  const std::vector<Case> cases = {
      {"Normal", "2.80.1022.0", "2.81.1117.0", false},
      {"Normal", "2.81.1117.1", "2.81.1117.0", true},
      {"SkipIfSame", "2.80.1022.0", "2.81.1117.0", true},
      {"SkipIfExists", "2.81", "?Error", false},  // "?Error" is a value like any other
  };
  for (const Case& c : cases) {
    EntryRules rules = Rules(c.dataAccess);
    FileEntry entry;
    entry.Key = entry.Filename = "MDAC_TYP.EXE";
    entry.Realname = "mdac28.exe";  // matches MDAC* without regard to case
    entry.LocalPath = entry.ExtractTo = "C:\\Sample";
    entry.Execute = "1";
    entry.CopyMode = c.mode;
    entry.FileVersion = c.fileVersion;
    // The product versions would always install; a package must not look at them.
    entry.ProductVersion = "9";
    entry.InstalledProductVersion = "";
    // The package file is missing: that alone never installs a package.
    rules.Decide(entry);
    EXPECT_EQ(entry.Download, c.download)
        << c.mode << ": " << c.fileVersion << " against " << c.dataAccess;
  }
}

TEST_F(DecideTest, MissingFileRule) {
  // Equal versions under "Normal": only a missing file can install. `present` lists the files
  // in C:\Sample, separated by blanks.
  struct Case {
    const char* name;
    const char* filename;
    const char* realname;
    const char* execute;
    const char* extract;
    const char* extractTo;  // below C:\Sample
    const char* present;
    bool download;
  };
  const std::vector<Case> cases = {
      {"file missing", "a.dll", "a.dll", "", "", "", "", true},
      {"a folder is no file", "a.dll", "a.dll", "", "", "", "a.dll\\inner", true},
      {"plain name: server name looked for", "a.dll", "b.dll", "", "", "", "a.dll", false},
      {"substitute: real name looked for", "Sample.ex_", "Sample.exe", "", "", "", "Sample.exe",
       false},
      {"extraction target missing", "pack.zip", "pack.zip", "", "1", "out", "pack.zip", true},
      {"data-access package missing", "MDAC_TYP.EXE", "MDAC28.exe", "1", "", "", "", false},
      {"MDAC name extracted, missing: exempt", "mdac.zip", "MDAC.zip", "", "1", "out", "", false},
  };
  for (const Case& c : cases) {
    TempDir folder;
    Prefix prefix = Prefix::Open(folder.Path());
    InstallationRecord record(mIni, folder / "Version.ini");
    EntryRules local(prefix, CodePage(), record, "2.81", nullptr);
    std::istringstream present(c.present);
    for (std::string name; present >> name;) WriteFile(prefix.ToNative("C:\\Sample\\" + name), "x");
    FileEntry entry;
    entry.Key = entry.Filename = c.filename;
    entry.Realname = c.realname;
    entry.LocalPath = "C:\\Sample";
    entry.Execute = c.execute;
    entry.Extract = c.extract;
    entry.ExtractTo = *c.extractTo ? std::string("C:\\Sample\\") + c.extractTo : "C:\\Sample";
    entry.CopyMode = "Normal";
    entry.ProductVersion = entry.InstalledProductVersion = "1.0";
    entry.FileVersion = "2.81";
    local.Decide(entry);
    EXPECT_EQ(entry.Download, c.download) << c.name;
  }
  // Whatever the copy mode, a missing ordinary file installs.
  EntryRules rules = Rules();
  for (const char* mode : {"Normal", "SkipIfSame", "SkipIfExists", "Force", "", "Unknown"}) {
    FileEntry entry = Ordinary(mode, "1.0", "1.0");
    entry.Filename = entry.Realname = "gone.dll";
    rules.Decide(entry);
    EXPECT_TRUE(entry.Download) << mode;
  }
}

TEST_F(DecideTest, RefusalByAllowWinsOverEverything) {
  struct Case {
    bool allowed;
    const char* mode;
    bool fileThere;
    bool download;
  };
  const std::vector<Case> cases = {
      {false, "Force", true, false},
      {true, "Normal", false, true},
  };
  EntryRules rules = Rules();
  for (const Case& c : cases) {
    mAllowAnswer = c.allowed;
    mAllowCalls.clear();
    FileEntry entry = Ordinary(c.mode, "1.0", "1.0");
    if (!c.fileThere) entry.Filename = entry.Realname = "gone.dll";
    entry.AllowList = "00-1A-2B-3C-4D-5E";
    entry.BlockList = "";
    entry.Download = true;  // a refused entry ends up false whatever it held
    rules.Decide(entry);
    EXPECT_EQ(entry.Download, c.download) << c.allowed << " " << c.mode << " " << c.fileThere;
    ASSERT_EQ(mAllowCalls.size(), 1u);
    EXPECT_EQ(mAllowCalls[0].first, "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(mAllowCalls[0].second, "");
  }
}

}  // namespace
}  // namespace tandor
