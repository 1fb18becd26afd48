// Versions of the installed copy: read from the file's version resource, with the installation
// record standing in for files that yield none.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "manifest/InstallationRecord.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "support/TempDir.h"
#include "sync/EntryRules.h"

namespace tandor {
namespace {

using test::TempDir;
using test::WriteFile;
namespace fs = std::filesystem;

// Programs with version resources that the build makes with the MinGW tools.
void PlaceFixture(const char* name, const fs::path& file) {
  fs::create_directories(file.parent_path());
  fs::copy_file(fs::path(TANDOR_VERSION_FIXTURES) / name, file);
}

TEST(InstalledVersionsTest, FileFirstThenTheInstallationRecord) {
  enum class Installed { Missing, Versioned, LargeVersioned, NoProductString, Unversioned };
  struct Case {
    const char* name;
    Installed installed;
    bool recorded;
    const char* fileVersion;
    const char* productVersion;
  };
  const std::vector<Case> cases = {
      {"versioned file, record ignored", Installed::Versioned, true, "2.5.3.1234", "2.5 beta"},
      {"large versioned file", Installed::LargeVersioned, true, "2.5.3.1234", "2.5 beta"},
      {"missing file: the record", Installed::Missing, true, "2008-07-24 09:05:00",
       "2008-07-24 09:05:01"},
      {"unversioned file: the record", Installed::Unversioned, true, "2008-07-24 09:05:00",
       "2008-07-24 09:05:01"},
      {"unversioned file, no record", Installed::Unversioned, false, "", ""},
      // "?" is the file's own answer (its strings lie under another language): the record does
      // not stand in for it, and the fixed part of the resource still carries the file version.
      {"resource without ProductVersion", Installed::NoProductString, true, "3.0.0.1", "?"},
  };
  for (const Case& c : cases) {
    TempDir scratch;
    Prefix prefix = Prefix::Open(scratch.Path());
    const auto native = prefix.ToNative("C:\\Sample\\Sample.dll");
    switch (c.installed) {
      case Installed::Missing:
        break;
      case Installed::Versioned:
        PlaceFixture("all_strings.exe", native);
        break;
      case Installed::LargeVersioned:
        PlaceFixture("all_strings.exe", native);
        std::ofstream(native, std::ios::binary | std::ios::app) << std::string(1 << 20, '\0');
        break;
      case Installed::NoProductString:
        PlaceFixture("other_language.exe", native);
        break;
      case Installed::Unversioned:
        WriteFile(native, "plain text, no version resource\r\n");
        break;
    }
    if (c.recorded) {
      // The record's section is found by the entry's Key, whatever its capitals.
      WriteFile(prefix.ToNative("C:\\Sample\\Version.ini"),
                "[SAMPLE KEY]\r\nFilename=Sample.dll\r\nLocal Path=C:\\Sample\r\n"
                "File Version=2008-07-24 09:05:00\r\nProduct Version=2008-07-24 09:05:01\r\n");
    }
    // The store looks at files it has just read only every few milliseconds: open it after
    // the files are in place, as a pass does.
    IniStore ini{CodePage()};
    InstallationRecord record(ini, prefix.ToNative("C:\\Sample\\Version.ini"));
    EntryRules local(prefix, CodePage(), record, "?Error", nullptr);
    FileEntry entry;
    entry.Key = "Sample Key";
    entry.Filename = entry.Realname = "Sample.dll";
    entry.LocalPath = "C:\\Sample";
    local.ReadInstalledVersions(entry);
    EXPECT_EQ(entry.InstalledFileVersion, c.fileVersion) << c.name;
    EXPECT_EQ(entry.InstalledProductVersion, c.productVersion) << c.name;
  }
}

}  // namespace
}  // namespace tandor
