// The publisher's work without a window: upload names and versions of picked files.

#include "publisher/Publisher.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <utime.h>

#include <ctime>
#include <tuple>

#include "VersionedElf.h"
#include "manifest/RenumberEntries.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "sync/Messages.h"
#include "util/FileVersion.h"
#include "util/Integrity.h"

namespace tandor {
namespace {

TEST(PublisherModelTest, UploadNames) {
  // The updater itself is never uploaded under its own name, in any case or spelling.
  const std::tuple<const char*, bool, std::string> uploads[] = {
      {"C:\\Build\\Tandor.exe", false, "Tandor.ex_ cleared"},
      {"/opt/TANDOR", false, "TANDO_ cleared"},
      {"/opt/Tandor.exe.bak", false, "Tandor.exe.bak"},
      {"/opt/", true, "_ cleared"},
  };
  for (const auto& [path, checked, expected] : uploads) {
    const UploadName name = ChooseUploadName(FileNameOfPath(path), checked);
    EXPECT_EQ(name.Name + (name.Substituted ? " cleared" : ""), expected);
  }
  EXPECT_EQ(RemotePath("/Harrowin/Sample/", "a.dl_"), "/Harrowin/Sample//a.dl_");  // as typed
}

TEST(PublisherModelTest, VersionsOfPickedFiles) {
  setenv("TZ", "Asia/Seoul", 1);  // local time, not UTC: a zone far from it shows the difference
  tzset();
  test::TempDir dir;
  Prefix prefix = Prefix::Open(dir / "prefix");
  VersionInfoQuery query(prefix, prefix.AnsiCodePage());
  test::WriteVersionedFile(dir / "noproduct.dll", {});

  // Made now, modified in 2008: the stamp is the creation time where the file system keeps one.
  const std::time_t before = std::time(nullptr);
  test::WriteFile(dir / "plain.txt", "text");
  const utimbuf old{1216857900, 1216857900};
  ASSERT_EQ(utime((dir / "plain.txt").c_str(), &old), 0);
  const std::string stamp = VersionStamp(dir / "plain.txt");
  std::tm when{};
  ASSERT_TRUE(strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &when)) << stamp;
  const std::time_t made = std::mktime(&when);
  EXPECT_TRUE(stamp == "2008-07-24 09:05:00" || (made >= before && made <= std::time(nullptr)));

  // A resource without the product string keeps its "?"; the digest comes along for SHA256=.
  const std::pair<const char*, std::string> cases[] = {
      {"noproduct.dll", "1.0.0.0 ?"},
      {"plain.txt", stamp + " " + stamp},
  };
  for (const auto& [file, expected] : cases) {
    const PickedVersions got = ReadPickedVersions(dir / file, query);
    EXPECT_EQ(got.FileVersion + " " + got.ProductVersion, expected);
    EXPECT_EQ(got.Sha256, Sha256Hex(*Sha256OfFile(dir / file)));
  }
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
