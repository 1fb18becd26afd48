// The publisher's work without a window: entry text, versions of picked files, upload names.

#include "publisher/Publisher.h"
#include "util/Integrity.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <utime.h>

#include <ctime>

#include "VersionedElf.h"
#include "manifest/RenumberEntries.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "sync/Messages.h"
#include "util/FileVersion.h"

namespace tandor {
namespace {

TEST(PublisherModelTest, EntriesVersionsAndNames) {
  const std::string head = "[File]\r\nKey=x.dll\r\nFileName=x.dll\r\nRealName=x.dll\r\n";
  // clang-format off
  const struct { EntryChoices Choices; std::string Expected; } entries[] = {
      {{"/Harrowin/Sample", "$(WinSysPath)", "Normal", "", true, false, false, false},
       head + "Server Path=/Harrowin/Sample\r\nLocal Path=$(WinSysPath)\r\nFile Version=2.5.0.7\r\n"
       "Product Version=2.50\r\nRegister=$(DLLSelfRegister)\r\nCopyMode=Normal\r\nExecute=\r\n"
       "Execute Option=\r\nWait=\r\nExtract=\r\nExtract To="},
      {{"", "$(AppPath)", "Force", "/s", false, true, true, true},
       head + "Server Path=\r\nLocal Path=$(AppPath)\r\nFile Version=2.5.0.7\r\nProduct Version=2.50"
       "\r\nRegister=\r\nCopyMode=Force\r\nExecute=1\r\nExecute Option=/s\r\nWait=1\r\nExtract=1"
       "\r\nExtract To=$(AppPath)"},
  };
  // clang-format on
  for (const auto& e : entries)
    EXPECT_EQ(EntryText("x.dll", {"2.5.0.7", "2.50"}, e.Choices), e.Expected);
  // A picked file's digest follows the entry, for the update pass to check the download.
  EXPECT_EQ(EntryText("x.dll", {"1", "1", "ab12"}, entries[0].Choices),
            entries[0].Expected.substr(0, entries[0].Expected.find("File Version=")) +
                "File Version=1\r\nProduct Version=1" +
                entries[0].Expected.substr(entries[0].Expected.find("\r\nRegister=")) +
                "\r\nSHA256=ab12");
  EXPECT_EQ(VersionLines({"1.0.0.2", "1.0"}), "File Version=1.0.0.2\r\nProduct Version=1.0");

  const struct {
    const char* Path;
    bool Checked;
    UploadName Expected;
  } uploads[] = {
      {"/home/op/Sample.dll", false, {"Sample.dll", false}},
      {"/home/op/Sample.dll", true, {"Sample.dl_", true}},
      {"C:\\Build\\Tandor.exe", false, {"Tandor.ex_", true}},
      {"/opt/TANDOR", false, {"TANDO_", true}},
      {"/opt/Tandor.exe.bak", false, {"Tandor.exe.bak", false}},
      {"/opt/a", true, {"_", true}},
  };
  for (const auto& u : uploads) {
    const UploadName name = ChooseUploadName(FileNameOfPath(u.Path), u.Checked);
    EXPECT_EQ(name.Name + (name.Substituted ? " cleared" : ""),
              u.Expected.Name + (u.Expected.Substituted ? " cleared" : ""));
  }
  EXPECT_EQ(RemotePath("", "Tandor10.ini"), "/Tandor10.ini");
  EXPECT_EQ(RemotePath("/Harrowin/Sample/", "a.dl_"), "/Harrowin/Sample//a.dl_");
}

TEST(PublisherModelTest, VersionsOfPickedFiles) {
  setenv("TZ", "Asia/Seoul", 1);  // local time, not UTC: a zone far from it shows the difference
  tzset();
  test::TempDir dir;
  Prefix prefix = Prefix::Open(dir / "prefix");
  VersionInfoQuery query(prefix, prefix.AnsiCodePage());
  test::VersionSpec wanted;
  wanted.FileVersion = {2, 5, 0, 7};
  wanted.Strings = {{"ProductVersion", "2.50"}};
  test::WriteVersionedFile(dir / "x.dll", wanted);
  test::WriteVersionedFile(dir / "noproduct.dll", {});

  // Made now, modified long ago: the stamp is the creation time where the file system keeps
  // one, else the modification time.
  const std::time_t before = std::time(nullptr);
  test::WriteFile(dir / "plain.txt", "text");
  const std::time_t after = std::time(nullptr);
  std::tm old{};
  strptime("2008-07-24 09:05:00", "%Y-%m-%d %H:%M:%S", &old);
  old.tm_isdst = -1;
  const utimbuf times{std::mktime(&old), std::mktime(&old)};
  ASSERT_EQ(utime((dir / "plain.txt").c_str(), &times), 0);
  const std::string stamp = VersionStamp(dir / "plain.txt");
  if (stamp != "2008-07-24 09:05:00") {
    std::tm made{};
    ASSERT_TRUE(strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &made)) << stamp;
    made.tm_isdst = -1;
    EXPECT_TRUE(std::mktime(&made) >= before && std::mktime(&made) <= after) << stamp;
  }

  const struct {
    const char* File;
    std::string FileVersion, ProductVersion;
  } cases[] = {
      {"x.dll", "2.5.0.7", "2.50"},
      {"noproduct.dll", "1.0.0.0", "?"},  // a resource without the string keeps its "?"
      {"plain.txt", stamp, stamp},
  };
  for (const auto& c : cases) {
    const PickedVersions got = ReadPickedVersions(dir / c.File, query);
    EXPECT_EQ(got.FileVersion + " " + got.ProductVersion, c.FileVersion + " " + c.ProductVersion);
  }
  // The picked file's digest comes along for the entry's SHA256 line.
  EXPECT_EQ(ReadPickedVersions(dir / "plain.txt", query).Sha256,
            Sha256Hex(*Sha256OfFile(dir / "plain.txt")));
  EXPECT_THROW(ReadPickedVersions(dir.Path(), query), RuntimeError);  // a folder is no file
}

// Every save raises the serial; with a key the signature goes up after the manifest, and a key
// that cannot sign stops the save before the server is touched.
TEST(PublisherModelTest, SaveRaisesTheSerialAndSigns) {
  const struct {
    const char* Text;
    std::optional<std::string> Raised;
  } serials[] = {
      {"[Files]\r\nCount=1\r\n[File1]", "[Files]\r\nSerial=1\r\nCount=1\r\n[File1]"},
      {"[files]\nserial = 41\n[File1]\nSerial=9", "[files]\nSerial=42\n[File1]\nSerial=9"},
      {"[File1]\r\nSerial=3\r\n[Files]", "[File1]\r\nSerial=3\r\n[Files]\r\nSerial=1"},
      {"[File1]\r\nK=a", "[File1]\r\nK=a"},
      {"[Files]\r\nSerial=x1", std::nullopt},
      {"[Files]\r\nSerial=999999999999999999", std::nullopt},
  };
  for (const auto& s : serials) EXPECT_EQ(RaiseSerial(s.Text), s.Raised) << s.Text;

  test::TempDir dir;
  test::FtpServer server(dir / "srv");
  const KeyPair pair = GenerateKeyPair();
  test::WriteFile(dir / "good.key", pair.Secret + "\n");
  test::WriteFile(dir / "bad.key", "not a key\n");
  Publisher publisher(dir / "Tandor10.ini", "Tandor10.ini", CodePage(949), FtpEvents{});
  const ServerFields fields{"127.0.0.1", server.User(), server.Password(), server.PortText()};
  const struct {
    const char* Key;
    const char* Text;
    std::optional<std::string> Failure;
    std::string OnServer;
    bool Signed;
  } saves[] = {
      {"", "[Files]\r\nSerial=1", std::nullopt, "[Files]\r\nSerial=1", false},
      {"good.key", "[Files]\r\nSerial=2", std::nullopt, "[Files]\r\nSerial=2", true},
      {"bad.key", "[Files]\r\nSerial=3", msg::SigningKeyUnusable((dir / "bad.key").string()),
       "[Files]\r\nSerial=2", true},
      {"missing.key", "[Files]\r\nSerial=3",
       msg::SigningKeyUnusable((dir / "missing.key").string()), "[Files]\r\nSerial=2", true},
  };
  for (const auto& s : saves) {
    publisher.SignWith(*s.Key ? dir / s.Key : std::filesystem::path());
    EXPECT_EQ(publisher.Save(fields, "", s.Text), s.Failure) << s.Key;
    const std::optional<std::string> text = ReadWholeFile(dir / "srv/Tandor10.ini");
    const std::optional<std::string> signature = ReadWholeFile(dir / "srv/Tandor10.ini.sig");
    EXPECT_EQ(text.value_or("none"), s.OnServer) << s.Key;
    EXPECT_EQ(signature && VerifyDetached(*text, *signature, pair.Public), s.Signed) << s.Key;
  }
}

}  // namespace
}  // namespace tandor
