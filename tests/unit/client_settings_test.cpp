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

// The port follows the method unless the file names one; Passive is read as a number.
TEST_F(SettingsTest, PortFollowsTheMethod) {
  const struct {
    const char* File;
    const char* Method;
    const char* Port;
    bool Passive;
  } cases[] = {
      {"[Tandor]\r\nMethod=http\r\n", "http", "80", false},
      {"[Tandor]\r\nMethod=GOPHER\r\nPassive= 1\r\n", "GOPHER", "", true},
  };
  for (const auto& c : cases) {
    WriteFile(SettingsFile(), c.File);
    ClientSettings s = Load();
    EXPECT_EQ(s.Method + " " + s.Port, std::string(c.Method) + " " + c.Port);
    EXPECT_EQ(s.Passive, c.Passive) << c.File;
  }
}

TEST_F(SettingsTest, MethodAndPassiveSurviveAndTheOtherKeysAreConsumedOnce) {
  WriteFile(SettingsFile(),
            "[Tandor]\r\nMethod=HTTP\r\nPassive=1\r\nCAFile=C:\\ca.pem\r\nAddress=a\r\nPort=1\r\n"
            "Root=/R\r\n");
  ClientSettings first = Load();
  EXPECT_EQ(first.Address, "a");
  EXPECT_EQ(first.Port, "1");
  ClientSettings second = Load();
  EXPECT_EQ(second.Method, "HTTP");
  EXPECT_TRUE(second.Passive);
  EXPECT_EQ(second.CaFile, "C:\\ca.pem");
  EXPECT_EQ(second.Address, TANDOR_DEFAULT_ADDRESS);
  EXPECT_EQ(second.Port, "80");
  EXPECT_EQ(second.Root, "/Harrowin");
  EXPECT_EQ(ReadFile(SettingsFile()),
            "[Tandor]\r\nMethod=HTTP\r\nPassive=1\r\nCAFile=C:\\ca.pem\r\nAddress=\r\nPort=\r\n"
            "Root=\r\nUser=\r\nPassword=\r\n");
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
