#include "platform/Prefix.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

TEST(Prefix, PathConversionTable) {
  Prefix prefix("/p");
  struct Case {
    const char* windows;
    const char* native;
  } toNative[] = {
      {"C:\\Sample\\Version.ini", "/p/drive_c/Sample/Version.ini"},
      {"D:\\", "/p/drive_d"},
      {"C:/mixed\\sep", "/p/drive_c/mixed/sep"},
      {"/opt/app\\Tandor.ini", "/opt/app/Tandor.ini"},
      // Resolved as Windows resolves them: nothing climbs out of a drive.
      {"\\Sample\\x", "/p/drive_c/Sample/x"},
      {"C:\\..\\..\\x", "/p/drive_c/x"},
      {"C:\\Sample\\../../../etc/passwd", "/p/drive_c/etc/passwd"},
      {"/opt/app/../../etc/x", "/etc/x"},
  };
  for (const Case& c : toNative) EXPECT_EQ(prefix.ToNative(c.windows), c.native) << c.windows;

  struct Inside {
    const char* native;
    bool held;
  } inside[] = {{"/p/drive_c/Sample/x", true},
                {"/p/drive_c/../../etc", false},
                {"/p/registry.ini", false},
                {"/p/drive_cc/x", false},
                {"/pp/drive_c/x", false}};
  for (const Inside& c : inside) EXPECT_EQ(prefix.HoldsPath(c.native), c.held) << c.native;

  struct Back {
    const char* native;
    const char* windows;
  } toWindows[] = {
      {"/p/drive_c/Sample/Version.ini", "C:\\Sample\\Version.ini"},
      {"/p/drive_c", "C:\\"},
      {"/p/drive_z/a/./b", "Z:\\a\\b"},
      {"/p/drive_cc/x", "/p/drive_cc/x"},
  };
  for (const Back& c : toWindows) EXPECT_EQ(prefix.ToWindows(c.native), c.windows) << c.native;
}

TEST(Prefix, OpenCreatesTheMachine) {
  TempDir dir;
  Prefix prefix = Prefix::Open(dir / "new");
  for (const char* folder : {"C:\\Windows\\System32", "C:\\Program Files\\Common Files"})
    EXPECT_TRUE(fs::is_directory(prefix.ToNative(folder))) << folder;
  EXPECT_EQ(
      prefix.ReadRegistryValue("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"),
      "C:\\Program Files");
  EXPECT_EQ(prefix.ReadRegistryValue("Software\\Microsoft\\DataAccess", "Version"), std::nullopt);
  EXPECT_EQ(prefix.AnsiCodePage().Number(), 65001);
  // A root given with ".." is the same machine as its canonical path.
  fs::create_directories(dir / "other");
  Prefix roundabout = Prefix::Open(dir / "other" / ".." / "new");
  EXPECT_EQ(roundabout.ToWindows(dir / "new" / "drive_c" / "App"), "C:\\App");
  // Opening again keeps what is there.
  prefix.WriteRegistryValue("SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", "949");
  EXPECT_EQ(Prefix::Open(dir / "new").AnsiCodePage().Number(), 949);
}

TEST(Prefix, RegistryValuesAndTheCodePage) {
  TempDir dir;
  Prefix prefix(dir.Path());
  EXPECT_EQ(prefix.ReadRegistryValue("SOFTWARE\\X", "v"), std::nullopt);  // no file
  prefix.WriteRegistryValue("SOFTWARE\\X", "v", "1");
  prefix.WriteRegistryValue("HKEY_LOCAL_MACHINE\\software\\x", "W", "2");
  prefix.WriteRegistryValue("SOFTWARE\\X", "V", "3");
  EXPECT_EQ(prefix.ReadRegistryValue("SOFTWARE\\X", "v"), "3");
  EXPECT_EQ(prefix.ReadRegistryValue("software\\x", "w"), "2");
  EXPECT_EQ(prefix.ReadRegistryValue("SOFTWARE\\Y", "v"), std::nullopt);
  for (auto [value, expected] : {std::pair{"949", 949}, {"x", 65001}, {"-5", 65001}}) {
    prefix.WriteRegistryValue("SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", value);
    EXPECT_EQ(prefix.AnsiCodePage().Number(), expected) << value;
  }
}

TEST(Prefix, DefaultRootFollowsTheEnvironment) {
  const char* saved = getenv("TANDOR_PREFIX");
  std::string keep = saved ? saved : "";
  setenv("TANDOR_PREFIX", "/somewhere", 1);
  EXPECT_EQ(Prefix::DefaultRoot(), "/somewhere");
  unsetenv("TANDOR_PREFIX");
  setenv("XDG_DATA_HOME", "/data", 1);
  EXPECT_EQ(Prefix::DefaultRoot(), "/data/tandor");
  unsetenv("XDG_DATA_HOME");
  if (saved) setenv("TANDOR_PREFIX", keep.c_str(), 1);
}

TEST(CodePage, ConversionTable) {
  struct Case {
    int codePage;
    std::string bytes;
    std::string utf8;
  } cases[] = {
      {949, "\xC7\xD1\xB1\xDB", "한글"},
      {65001, "한글", "한글"},
      {1252, "caf\xE9", "café"},
  };
  for (const Case& c : cases) {
    CodePage page(c.codePage);
    EXPECT_EQ(page.ToUtf8(c.bytes), c.utf8) << c.codePage;
    EXPECT_EQ(page.FromUtf8(c.utf8), c.bytes) << c.codePage;
  }
  // Bytes the code page does not know never fail.
  EXPECT_EQ(CodePage(949).ToUtf8("a\xFF"), "a\xEF\xBF\xBD");
  EXPECT_EQ(CodePage(949).FromUtf8("a€b"),
            "a\xA2\xE6"
            "b");
  EXPECT_EQ(CodePage(1252).FromUtf8("한"), "?");
}

TEST(CodePage, CutPointNeverSplitsACharacter) {
  struct Case {
    int codePage;
    std::string bytes;
    std::size_t limit, expected;
  } cases[] = {
      {65001, "ab한", 4, 2},
      {65001, "ab한", 5, 5},
      {949, "a\xC7\xD1", 2, 1},
      {949, "\xC7\xD1\xB1\xDB", 3, 2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(CodePage(c.codePage).CutPoint(c.bytes, c.limit), c.expected) << c.bytes;
}

}  // namespace
}  // namespace tandor::test
