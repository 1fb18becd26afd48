#include "settings/ClientSettings.h"

#include <gtest/gtest.h>

#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

// A fresh prefix with an application folder C:\App.
class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() : mPrefix(Prefix::Open(mDir / "prefix")) {
    fs::create_directories(mPrefix.ToNative(kApp));
  }

  ClientSettings Load(bool consume = true) {
    IniStore ini{mPrefix.AnsiCodePage()};
    return LoadSettings(mPrefix, ini, kApp, consume);
  }
  fs::path SettingsFile() const { return mPrefix.ToNative("C:\\App\\Tandor.ini"); }

  static constexpr const char* kApp = "C:\\App";
  TempDir mDir;
  Prefix mPrefix;
};

TEST_F(SettingsTest, FreshFolderGetsDefaultsAndAConsumedFile) {
  ClientSettings s = Load();
  EXPECT_EQ(s.CommonFilesSys, "C:\\Program Files\\Common Files\\System");
  EXPECT_EQ(s.DataAccessVersion, "?Error");
  EXPECT_EQ(s.Port, "21");
  EXPECT_EQ(ReadFile(SettingsFile()),
            "[Tandor]\r\nAddress=\r\nPort=\r\nUser=\r\nPassword=\r\nRoot=\r\n");
}

struct SettingsCase {
  const char* name;
  std::string file;
  std::string method, address, port, user, password, root;
  bool passive = false;
};

class SettingsValuesTest : public SettingsTest,
                           public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsValuesTest, ReadsKeysAndFillsDefaults) {
  const SettingsCase& c = GetParam();
  WriteFile(SettingsFile(), c.file);
  ClientSettings s = Load();
  EXPECT_EQ(s.Method, c.method);
  EXPECT_EQ(s.Address, c.address);
  EXPECT_EQ(s.Port, c.port);
  EXPECT_EQ(s.User, c.user);
  EXPECT_EQ(s.Password, c.password);
  EXPECT_EQ(s.Root, c.root);
  EXPECT_EQ(s.Passive, c.passive);
}

INSTANTIATE_TEST_SUITE_P(
    Defaults, SettingsValuesTest,
    ::testing::Values(
        SettingsCase{"all_set",
                     "[Tandor]\r\nMethod=HTTP\r\nAddress=upd.example\r\nPort=8080\r\nUser=u\r\n"
                     "Password=p\r\nRoot=/R\r\n",
                     "HTTP", "upd.example", "8080", "u", "p", "/R"},
        SettingsCase{"http_lower_case_gets_80", "[Tandor]\r\nMethod=http\r\n", "http",
                     TANDOR_DEFAULT_ADDRESS, "80", "Version", "palu4826", "/Harrowin"},
        SettingsCase{"other_method_no_port", "[Tandor]\r\nMethod=GOPHER\r\n", "GOPHER",
                     TANDOR_DEFAULT_ADDRESS, "", "Version", "palu4826", "/Harrowin"},
        SettingsCase{"blank_values_are_not_empty", "[Tandor]\r\nUser=\" \"\r\nRoot=' '\r\n", "FTP",
                     TANDOR_DEFAULT_ADDRESS, "21", " ", "palu4826", " "},
        SettingsCase{"passive", "[Tandor]\r\nPassive= 1\r\n", "FTP", TANDOR_DEFAULT_ADDRESS, "21",
                     "Version", "palu4826", "/Harrowin", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsTest, MethodAndPassiveSurviveAndTheOtherKeysAreConsumedOnce) {
  WriteFile(SettingsFile(),
            "[Tandor]\r\nMethod=HTTP\r\nPassive=1\r\nAddress=a\r\nPort=1\r\nRoot=/R\r\n");
  ClientSettings first = Load();
  EXPECT_EQ(first.Address, "a");
  EXPECT_EQ(first.Port, "1");
  ClientSettings second = Load();
  EXPECT_EQ(second.Method, "HTTP");
  EXPECT_TRUE(second.Passive);
  EXPECT_EQ(second.Address, TANDOR_DEFAULT_ADDRESS);
  EXPECT_EQ(second.Port, "80");
  EXPECT_EQ(second.Root, "/Harrowin");
  EXPECT_EQ(ReadFile(SettingsFile()),
            "[Tandor]\r\nMethod=HTTP\r\nPassive=1\r\nAddress=\r\nPort=\r\nRoot=\r\nUser=\r\n"
            "Password=\r\n");
}

TEST_F(SettingsTest, RolesThatDoNotUpdateLeaveTheFileAlone) {
  const std::string text = "[Tandor]\r\nAddress=a\r\nPort=2121\r\n";
  WriteFile(SettingsFile(), text);
  EXPECT_EQ(Load(false).Address, "a");
  EXPECT_EQ(Load(false).Port, "2121");
  EXPECT_EQ(ReadFile(SettingsFile()), text);
  fs::remove(SettingsFile());
  Load(false);
  EXPECT_FALSE(fs::exists(SettingsFile()));
}

TEST_F(SettingsTest, ReadOnlyFileStillGivesItsValues) {
  const std::string text = "[Tandor]\r\nAddress=a\r\n";
  WriteFile(SettingsFile(), text);
  fs::permissions(SettingsFile(), fs::perms::owner_read);
  EXPECT_EQ(Load().Address, "a");
  EXPECT_EQ(ReadFile(SettingsFile()), text);
}

TEST_F(SettingsTest, RegistryFailuresGiveErrorValues) {
  struct Case {
    std::string registry;
    std::string programFiles, commonFiles, commonFilesSys, dataAccess;
  };
  const std::string longValue(512, 'x');  // does not fit a 512-byte buffer with its NUL
  const Case cases[] = {
      {"", "?Error", "?Error", "", "?Error"},
      {"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]\r\n"
       "CommonFilesDir=D:\\CF\r\n"
       "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\DataAccess]\r\nVersion=2.81.1117.0\r\n",
       "?Error", "D:\\CF", "D:\\CF\\System", "2.81.1117.0"},
      {"[hkey_local_machine\\software\\microsoft\\windows\\currentversion]\r\n"
       "ProgramFilesDir=" +
           std::string(511, 'p') + "\r\nCommonFilesDir=" + longValue + "\r\n",
       std::string(511, 'p'), "?Error", "", "?Error"},
  };
  for (const Case& c : cases) {
    WriteFile(mPrefix.RegistryFile(), c.registry);
    ClientSettings s = Load();
    EXPECT_EQ(s.ProgramFiles, c.programFiles) << c.registry;
    EXPECT_EQ(s.CommonFiles, c.commonFiles) << c.registry;
    EXPECT_EQ(s.CommonFilesSys, c.commonFilesSys) << c.registry;
    EXPECT_EQ(s.DataAccessVersion, c.dataAccess) << c.registry;
  }
}

}  // namespace
}  // namespace tandor::test
