// Whole update passes through servers that misbehave on purpose: a proxy in front of the HTTP
// fixture and an FTP server that refuses active mode, each breaking one file. A failed pass
// reports the failure, leaves every installed file whole (old or new bytes, never a mix or a
// leftover), and does not note what it did not install; a clean pass afterwards converges.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/HttpServer.h"
#include "support/PassHarness.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

enum class Method { Ftp, Http };

struct Row {
  const char* Name;
  Method Via;
  const char* Fault;  // see tests/support/fault_proxy.py; "active": a client in active mode
  const char* File;   // the file the server breaks
  int Status;
  const char* Text;  // in Err.log and in the window
};

const Row kRows[] = {
    {"HTTP reset inside the headers", Method::Http, "drop", "data.bin", 1, "error code: 12030"},
    {"HTTP silence", Method::Http, "stall", "data.bin", 1, "error code: 12002"},
    {"HTTP trickle", Method::Http, "trickle", "data.bin", 1, "error code: 12002"},
    {"HTTP reply shorter than announced", Method::Http, "short", "data.bin", 1,
     "error code: 12030"},
    {"HTTP reply longer than announced", Method::Http, "long", "data.bin", 1, "error code: 12152"},
    {"HTTP chunked reply", Method::Http, "chunked", "data.bin", 0, "data.bin 파일 다운로드 완료"},
    {"HTTP reply ended by the close", Method::Http, "close", "data.bin", 0,
     "data.bin 파일 다운로드 완료"},
    {"HTTP 500", Method::Http, "500", "data.bin", 1, "500 Internal Server Error (data.bin)"},
    {"HTTP 500 for the manifest", Method::Http, "500", "Tandor10.ini", 2,
     "500 Internal Server Error"},
    {"HTTP garbage status line", Method::Http, "garbage", "data.bin", 1,
     "HttpSendRequest error code: 12152"},
    {"FTP active mode refused", Method::Ftp, "active", "data.bin", 2, "Passive=1"},
    {"FTP data connection dropped", Method::Ftp, "drop", "data.bin", 1, "error code: 12030"},
    {"FTP silence", Method::Ftp, "stall", "data.bin", 1, "error code: 12002"},
    {"FTP trickle", Method::Ftp, "trickle", "data.bin", 1, "error code: 12002"},
    {"FTP file shorter than its size", Method::Ftp, "short", "data.bin", 1, "error code: 12030"},
};

constexpr const char* kOld = "old bytes";

class FaultTest : public ::testing::Test, protected SampleMachine {
 protected:
  FaultTest() {
    fs::create_directories(mApp);
    std::string data;
    for (int i = 0; data.size() < 40000; ++i) data += std::to_string(i) + ",";
    mPublished = {{"Data", "data.bin", data}, {"After", "after.txt", "after\n"}};
    std::string manifest = "[Files]\r\n";
    int number = 0;
    for (const Published& file : mPublished) {
      WriteFile(mProduct / file.Name, file.Bytes);
      manifest += "[File" + std::to_string(++number) + "]\r\nKey=" + file.Key +
                  "\r\nFilename=" + file.Name + "\r\nRealname=" + file.Name +
                  "\r\nServer Path=$Root/Sample\r\nLocal Path=C:\\Sample\r\n"
                  "CopyMode=Normal\r\nProduct Version=2.0\r\n";
    }
    WriteFile(mProduct / "Tandor10.ini", manifest);
  }

  // The product as the pass finds it: data.bin installed at 1.0, after.txt missing.
  void InstallOld() {
    ClearProduct();
    WriteFile(mLocal / "data.bin", kOld);
    fs::permissions(mLocal / "data.bin", fs::perms::owner_read);  // read-only, as shipped
    WriteFile(mLocal / "Version.ini",
              "[Data]\r\nFilename=data.bin\r\nLocal Path=C:\\Sample\r\nFile Version=\r\n"
              "Product Version=1.0\r\n");
  }

  // A server for `row`: the HTTP fixture behind a faulty proxy, or an FTP server of its own.
  void StartFaulty(const Row& row, const char* fault) {
    const std::string script = std::string(TANDOR_SOURCE_DIR) + "/tests/support/fault_proxy.py";
    const bool http = row.Via == Method::Http;
    mSettings.Method = http ? "HTTP" : "FTP";
    mSettings.Passive = std::string(fault) != "active";
    mFaulty.reset();
    mFaulty.emplace(std::vector<std::string>{
        "/usr/bin/python3", script, http ? "--http" : "--ftp",
        http ? mHttp.PortText() : mServer.string(), "--fault", fault, "--path",
        http ? "/Harrowin/Sample/" + std::string(row.File) : row.File});
    mSettings.Port = std::to_string(mFaulty->Port());
  }

  int RunPass() {
    mWindow.Clear();
    PassEnvironment env = SampleEnvironment(mMachine, mIni, mSettings, mWindow);
    env.TransferIdleLimit = std::chrono::seconds(2);
    UpdatePass pass(env);
    try {
      pass.Sync();
    } catch (const ProgramEnded& end) {
      return end.Status;
    }
    return pass.Status();
  }

  std::string Recorded(const std::string& key) {
    IniStore fresh(mMachine.AnsiCodePage());
    return fresh.Read(key, "Product Version", mLocal / "Version.ini");
  }

  // Every file under its real name holds the old bytes or the server's, and the record notes
  // the new version only where the new bytes are. Nothing else lies in the folder.
  void CheckInstalled(bool mustBeNew) {
    for (const Published& file : mPublished) {
      SCOPED_TRACE(file.Name);
      const std::string had = ReadFile(mLocal / file.Name);
      const bool isNew = had == file.Bytes;
      EXPECT_TRUE(isNew || had == (file.Key == "Data" ? kOld : "")) << had;
      const std::string version = Recorded(file.Key);
      EXPECT_TRUE(isNew || version != "2.0") << "noted but not installed";
      if (mustBeNew) {
        EXPECT_TRUE(isNew);
        EXPECT_EQ(version, "2.0");
      }
    }
    for (const auto& file : fs::directory_iterator(mLocal))
      EXPECT_THAT((std::set<std::string>{"data.bin", "after.txt", "Version.ini", "Tandor10.ini"}),
                  testing::Contains(file.path().filename().string()));
  }

  struct Published {
    std::string Key, Name, Bytes;
  };
  std::vector<Published> mPublished;
  HttpServer mHttp{mServer};
  std::optional<ServerProcess> mFaulty;
};

TEST_F(FaultTest, FailuresAreReportedAndACleanPassConverges) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.Name);
    InstallOld();
    StartFaulty(row, row.Fault);
    EXPECT_EQ(RunPass(), row.Status);
    EXPECT_THAT(ReadFile(mApp / "Err.log"), HasSubstr(row.Text));
    EXPECT_THAT(mWindow.Shown(), HasSubstr(row.Text));
    CheckInstalled(row.Status == 0);
    // Only the broken file fails: the connection is fit for the entries after it.
    if (row.Status != 2) {
      EXPECT_EQ(ReadFile(mLocal / "after.txt"), "after\n");
    }

    StartFaulty(row, "none");
    EXPECT_EQ(RunPass(), 0) << mWindow.Shown();
    CheckInstalled(true);
  }
}

}  // namespace
}  // namespace tandor::test
