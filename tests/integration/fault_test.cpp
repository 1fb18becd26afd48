// Update passes through servers that break one file: a failed pass reports it, leaves every file
// whole (old or new bytes, no leftover) and unnoted if not new; a clean pass then converges.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "platform/FreeSpace.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/PassHarness.h"
#include "util/Integrity.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Each;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

// Over FTP or HTTP, a fault of servers.py ("active": a client in active mode) for one file: the
// pass's status and its text in Err.log and in the window. The manifest is signed, and checked
// when the broken file is its signature. Disk: the free space the disk has beyond what must stay
// free (0: the real disk's).
const struct Row {
  bool Ftp;
  const char *Fault, *File;
  int Status;
  const char* Text;
  std::uint64_t Disk = 0;
} kRows[] = {
    {false, "drop", "data.bin", 1, "error code: 12030"},
    {false, "stall", "data.bin", 1, "error code: 12002"},
    {false, "trickle", "data.bin", 1, "error code: 12002"},
    {false, "short", "data.bin", 1, "error code: 12030"},
    {false, "long", "data.bin", 1, "error code: 12152"},
    {false, "chunked", "data.bin", 0, "data.bin 파일 다운로드 완료"},
    {false, "close", "data.bin", 0, "data.bin 파일 다운로드 완료"},
    {false, "500", "data.bin", 1, "500 Internal Server Error (data.bin)"},
    {false, "500", "Tandor10.ini", 2, "500 Internal Server Error"},
    {false, "garbage", "data.bin", 1, "HttpSendRequest error code: 12152"},
    // The second file's request goes out while the first is put on disk.
    {false, "long", "after.txt", 1, "error code: 12152"},
    {false, "drop", "after.txt", 1, "error code: 12030"},
    {false, "500", "after.txt", 1, "500 Internal Server Error (after.txt)"},
    {false, "close", "after.txt", 0, "after.txt 파일 다운로드 완료"},
    {true, "active", "data.bin", 2, "Passive=1"},
    {true, "drop", "data.bin", 1, "error code: 12030"},
    {true, "stall", "data.bin", 1, "error code: 12002"},
    {true, "trickle", "data.bin", 1, "error code: 12002"},
    {true, "short", "data.bin", 1, "error code: 12030"},
    {true, "short", "after.txt", 1, "error code: 12030"},
    // A server that said why before it broke the connection: what it said is in the text.
    {true, "oops", "Tandor10.ini", 2,
     "reset. (the server's last reply: 500 OOPS: priv_sock_get_int)"},
    // A server's answer is bounded: the manifest and its signature by their limits, any file by
    // the free space (a huge one is refused at once), and the end of an FTP data connection is
    // the end of the file, whatever SIZE said. An endless download keeps no part to resume.
    {false, "endless", "Tandor10.ini", 2, " 16 MiB"},
    {false, "huge", "Tandor10.ini", 2, " 16 MiB"},
    {true, "huge", "Tandor10.ini", 2, " 16 MiB"},
    {false, "endless", "Tandor10.ini.sig", 4, " 4 KiB"},
    {false, "huge", "Tandor10.ini.sig", 4, " 4 KiB"},
    {false, "endless", "data.bin", 1, "whose size the server did not announce", 8 << 20},
    {false, "endless", "data.bin", 1, "error code: 12030"},
    {false, "huge", "data.bin", 1, "must stay free"},
    // Size= bounds a file as the limits bound the manifest.
    {false, "endless", "after.txt", 1, "larger than the limit of 6 bytes"},
    {false, "huge", "after.txt", 1, "larger than the limit of 6 bytes"},
    {true, "undersize", "after.txt", 1, "error code: 12152"},
};

class FaultTest : public ::testing::Test, protected SampleMachine {
 protected:
  FaultTest() {
    for (int i = 0; mData.size() < 40000; ++i) mData += std::to_string(i) + ",";
    WriteFile(mProduct / "data.bin", mData);
    WriteFile(mProduct / "after.txt", "after\n");
    const Keys keys = {{"CopyMode", "Normal"}, {"Product Version", "2.0"}};
    Keys data = keys;
    data["SHA256"] = Sha256Of(mData);  // data.bin could be resumed
    Keys after = keys;
    after["Size"] = "6";
    const std::string manifest = "[Files]\r\nProduct=Sample\r\nSerial=1\r\n" +
                                 Entry(1, "data.bin", "data.bin", data) +
                                 Entry(2, "after.txt", "after.txt", after);  // fetched ahead
    WriteFile(mProduct / "Tandor10.ini", manifest);
    WriteFile(mProduct / "Tandor10.ini.sig", *SignDetached(manifest, mKey.Secret));
    fs::create_directories(mApp);
  }

  // A pass through an HTTP server, or an FTP server refusing active mode, with `fault`.
  int RunPass(const Row& row, const std::string& fault) {
    if (row.Ftp)
      mFaulty =
          std::make_unique<FtpServer>(mServer, FtpServerOptions{true, false, fault, row.File});
    else
      mFaulty = std::make_unique<HttpServer>(
          mServer, HttpServer::Redirects{},
          std::vector{"/Harrowin/Sample/" + std::string(row.File)}, fault);
    mSettings.SetMethod(row.Ftp ? "FTP" : "HTTP");
    mSettings.Passive = fault != "active";
    mSettings.SetPort(mFaulty->PortText());
    const bool signatureChecked = std::string(row.File).ends_with(".sig");
    mMachine.WriteRegistryValue("SOFTWARE\\Tandor", "ManifestKey",
                                signatureChecked ? mKey.Public : "");
    mWindow.Clear();
    PassEnvironment env = SampleEnvironment(mMachine, mIni, mSettings, mWindow);
    env.TransferIdleLimit = std::chrono::seconds(2);
    // A small disk fills as the file being downloaded arrives.
    mArrived = 0;
    mWindow.AfterProgress = [this](std::int64_t current, std::int64_t) { mArrived = current; };
    if (row.Disk > 0)
      env.FreeSpace = [this, &row](const fs::path&) {
        return FreeSpaceMargin + row.Disk - std::min<std::uint64_t>(mArrived, row.Disk);
      };
    return UpdatePass(env).Sync().Status;
  }

  // Each file holds the old bytes or the server's, and the record notes the new version only
  // where the new bytes are. Nothing else lies in the folder.
  void CheckInstalled(bool mustBeNew) {
    IniStore record(mMachine.AnsiCodePage());
    for (const auto& [key, had, published] :
         {std::tuple<std::string, std::string, std::string>{"data.bin", "old bytes", mData},
          {"after.txt", "", "after\n"}}) {
      const std::string now = ReadFile(mLocal / key);
      const bool noted = record.Read(key, "Product Version", mLocal / "Version.ini") == "2.0";
      EXPECT_TRUE(now == published ? noted || !mustBeNew : now == had && !noted && !mustBeNew)
          << key << ": " << now;
    }
    for (const auto& file : fs::directory_iterator(mLocal))
      EXPECT_THAT(file.path().filename().string(),
                  ::testing::AnyOf("data.bin", "after.txt", "Version.ini", "Tandor10.ini"));
  }

  std::string mData;
  KeyPair mKey = GenerateKeyPair();
  std::unique_ptr<ServerProcess> mFaulty;
  std::int64_t mArrived = 0;
};

TEST_F(FaultTest, FailuresAreReportedAndACleanPassConverges) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string(row.Ftp ? "FTP " : "HTTP ") + row.Fault + " " + row.File);
    // data.bin installed at 1.0 and read-only, as shipped; after.txt missing.
    ClearProduct();
    WriteFile(mLocal / "data.bin", "old bytes");
    fs::permissions(mLocal / "data.bin", fs::perms::owner_read);
    WriteFile(mLocal / "Version.ini",
              "[data.bin]\r\nFilename=data.bin\r\nLocal Path=C:\\Sample\r\nFile Version=\r\n"
              "Product Version=1.0\r\n");
    EXPECT_EQ(RunPass(row, row.Fault), row.Status);
    EXPECT_THAT(Log(), HasSubstr(row.Text));
    EXPECT_THAT(mWindow.Shown(), HasSubstr(row.Text));
    // A size announced past a bound is refused before any of the body is taken.
    EXPECT_THAT(mWindow.Calls, Each(Not(EndsWith("/" + std::to_string(100ull << 30)))));
    CheckInstalled(row.Status == 0);
    // Only the broken file fails: the connection is fit for the entries after it.
    if (row.File == std::string("after.txt"))
      EXPECT_TRUE(ReadFile(mLocal / "data.bin") == mData);
    else
      EXPECT_TRUE(row.Status >= 2 || ReadFile(mLocal / "after.txt") == "after\n");
    EXPECT_EQ(RunPass(row, "none"), 0) << mWindow.Shown();
    CheckInstalled(true);
  }
}

}  // namespace
}  // namespace tandor::test
