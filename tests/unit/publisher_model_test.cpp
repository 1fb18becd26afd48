// The publisher's work without a window: upload names and versions of picked files.

#include "publisher/Publisher.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <tuple>

#include "manifest/RenumberEntries.h"
#include "manifest/SigningStamp.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "publisher/ManifestText.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "ui/Messages.h"
#include "util/FileVersion.h"
#include "util/Integrity.h"
#include "util/UtcTime.h"

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
}

// A file without a version resource is stamped with its modification time (made now, modified
// in 2008: its bytes may have been written over an older file), in local time, not UTC; digest
// and size come along. Over an entry, other bytes get a stamp newer than the entry's, the same
// bytes keep it, and a version resource with the entry's versions is refused.
TEST(PublisherModelTest, VersionsOfPickedFiles) {
  setenv("TZ", "Asia/Seoul", 1);  // a zone far from UTC shows the difference
  tzset();
  test::TempDir dir;
  Prefix prefix = Prefix::Open(dir / "prefix");
  VersionInfoQuery query(prefix, prefix.AnsiCodePage());
  test::WriteFile(dir / "plain.txt", "text");
  const utimbuf old{1216857900, 1216857900};
  ASSERT_EQ(utime((dir / "plain.txt").c_str(), &old), 0);

  const PickedVersions got = ReadPickedVersions(dir / "plain.txt", query);
  EXPECT_EQ(got.FileVersion + "|" + got.ProductVersion + "|" + std::to_string(got.Size),
            "2008-07-24 09:05:00|2008-07-24 09:05:00|4");
  EXPECT_EQ(got.Sha256, Sha256Hex(*Sha256OfFile(dir / "plain.txt")));
  EXPECT_THROW(ReadPickedVersions(dir.Path(), query), RuntimeError);  // a folder is no file

  // Listed File Version and SHA256=, the versions settled (both stamped but for "1.2"), or why.
  const std::string stamp = got.FileVersion, sha = got.Sha256;
  const std::tuple<std::string, std::string, std::string> overEntries[] = {
      {"2008-07-24 09:05:00", "other", "2008-07-24 09:05:01"},
      {"2008-07-24 09:06:00", "", "2008-07-24 09:06:01"},
      {"2008-12-31 23:59:59", "other", "2009-01-01 00:00:00"},
      {"1.0.0.1", "other", stamp},
      {"2009-01-01 00:00:00", sha, "2009-01-01 00:00:00"},
      {"3.0", "other", "plain.txt: has no version resource, and its entry lists the version 3.0, "},
      {"1.2", "other",
       "plain.txt: other bytes than its entry lists, but the same File Version 1.2"},
      {"1.2", sha, "1.2"},
  };
  for (const auto& [listed, listedSha, settled] : overEntries) {
    PickedVersions picked = got;
    picked.FileStamped = picked.ProductStamped = listed != "1.2";
    if (!picked.FileStamped) picked.FileVersion = picked.ProductVersion = "1.20";
    const auto problem = SettleVersions(picked, {listed, listed, listedSha}, "plain.txt");
    EXPECT_EQ(problem.value_or(picked.FileVersion).substr(0, settled.size()), settled) << listed;
    EXPECT_EQ(picked.ProductVersion, picked.FileVersion);
  }
}

// A signed save raises the serial and names the product of the server folder; an unsigned save
// keeps the operator's text as it is. With a key the signature goes up after the manifest, and a
// key that cannot sign, or that others may read, stops the save before the server is touched.
TEST(PublisherModelTest, SignedSavesAreStampedAndSigned) {
  // Text, server folder, the text signed (or why it cannot be).
  const std::tuple<std::string, std::string, std::string> stamps[] = {
      {"[Files]\r\nCount=1\r\n[File1]", "/Harrowin/Sample",
       "[Files]\r\nProduct=Sample\r\nSerial=1\r\nCount=1\r\n[File1]"},
      {"[files]\nserial = 41\n[File1]\nSerial=9", "/Harrowin/Sample/",
       "[files]\nProduct=Sample\nSerial=42\n[File1]\nSerial=9"},
      {"[File1]\r\nSerial=3\r\n[Files]", "Sample",
       "[File1]\r\nSerial=3\r\n[Files]\r\nProduct=Sample\r\nSerial=1"},
      {"[File1]\r\nK=a", "/Harrowin/Sample", "[File1]\r\nK=a"},
      {"[Files]\r\n product = Other \r\nSerial=1", "/Harrowin/Sample",
       "[Files]\r\n product = Other \r\nSerial=2"},
      {"[Files]\r\nProduct=\r\nSerial=1\r\n[File1]\r\nProduct=x", "/Harrowin/Sample",
       "[Files]\r\nProduct=Sample\r\nSerial=2\r\n[File1]\r\nProduct=x"},
      {"[Files]\r\nProduct=Sample", "", "[Files]\r\nSerial=1\r\nProduct=Sample"},
      {"[Files]\r\nSerial=1", "/", msg::ProductUnknown()},
      {"[Files]\r\nSerial=x1", "/Harrowin/Sample", msg::SerialNotANumber()},
      {"[Files]\r\nSerial=999999999999999999", "/Harrowin/Sample", msg::SerialNotANumber()},
  };
  Publisher unsigned_(std::filesystem::path("Tandor10.ini"), "Tandor10.ini", {}, FtpEvents{});
  Publisher signing(std::filesystem::path("Tandor10.ini"), "Tandor10.ini", {}, FtpEvents{});
  signing.SignWith("any.key");
  for (const auto& [text, folder, stamped] : stamps) {
    const ManifestToSave manifest = signing.PrepareForSave(folder, text);
    EXPECT_EQ(manifest.Text.value_or(manifest.Problem), stamped) << text;
    EXPECT_EQ(unsigned_.PrepareForSave(folder, text).Text, text);
  }

  test::TempDir dir;
  test::FtpServer server(dir / "srv");
  const KeyPair pair = GenerateKeyPair();
  test::WriteFile(dir / "good.key", pair.Secret + "\n");
  test::WriteFile(dir / "bad.key", "not a key\n");
  test::WriteFile(dir / "shared.key", pair.Secret + "\n");
  for (const char* key : {"good.key", "bad.key"})
    std::filesystem::permissions(dir / key, std::filesystem::perms(0600));
  std::filesystem::permissions(dir / "shared.key", std::filesystem::perms(0640));
  Publisher publisher(dir / "Tandor10.ini", "Tandor10.ini", CodePage(949), FtpEvents{});
  const ServerFields fields{"127.0.0.1", server.User(), server.Password(), server.PortText()};
  const auto unusable = [&](const char* key) { return msg::SigningKeyUnusable(dir / key); };
  // Key, serial saved, serial then on the server, the server's copy signed by the key, failure.
  const std::tuple<std::string, int, int, bool, std::string> saves[] = {
      {"", 1, 1, false, ""},
      {"good.key", 2, 2, true, ""},
      {"bad.key", 3, 2, true, unusable("bad.key")},
      {"missing.key", 3, 2, true, unusable("missing.key")},
      {"shared.key", 3, 2, true, msg::SigningKeyShared(dir / "shared.key")},
  };
  for (const auto& [key, serial, onServer, isSigned, failed] : saves) {
    publisher.SignWith(key.empty() ? std::filesystem::path() : dir / key);
    const auto failure = publisher.Save(fields, "", "[Files]\r\nSerial=" + std::to_string(serial));
    EXPECT_EQ(failure.value_or(""), failed);
    const std::optional<std::string> text = ReadWholeFile(dir / "srv/Tandor10.ini");
    const std::optional<std::string> signature = ReadWholeFile(dir / "srv/Tandor10.ini.sig");
    EXPECT_EQ(text.value_or("none"), "[Files]\r\nSerial=" + std::to_string(onServer)) << key;
    EXPECT_EQ(signature && VerifyDetached(*text, *signature, pair.Public), isSigned) << key;
  }

  // A signed save names its key and holds for the days given, then as long again each time.
  publisher.SignWith(dir / "good.key");
  publisher.StampWith({.ExpiresDays = 7});
  std::string text = "[Files]\r\nSerial=1\r\n";
  for (int save = 0; save < 2; ++save) {
    text = publisher.PrepareForSave("/Harrowin/Sample", text).Text.value_or("");
    EXPECT_EQ(FilesValue(text, "SignedBy"), pair.Public) << text;
    const auto signedAt = ParseUtcTime(FilesValue(text, "Signed"));
    const auto expires = ParseUtcTime(FilesValue(text, "Expires"));
    ASSERT_TRUE(signedAt && expires) << text;
    EXPECT_LE(std::abs(*signedAt - std::time(nullptr)), 5) << text;
    EXPECT_EQ(*expires - *signedAt, 7 * 24 * 60 * 60) << text;
    publisher.StampWith({});
  }
}

// What a signed manifest says of its signature: its signers, its span (given, or as long as it
// held before), and keys announced or revoked; the times it is read with.
TEST(PublisherModelTest, SigningStampsWriteTheClaims) {
  const std::pair<std::string, std::optional<std::time_t>> times[] = {
      {"2027-01-31T12:00:00Z", 1801396800},
      {"2027-01-31", 1801353600},
      {"1970-01-01T00:00:00Z", 0},
      {"2027-02-29", std::nullopt},  // no such day
      {"2027-01-31T24:00:00Z", std::nullopt},
      {"2027-01-31T12:00:00", std::nullopt},  // not said to be UTC
      {"2027-1-31", std::nullopt},
      {" 2027-01-31", std::nullopt},
      {"1969-12-31", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, time] : times) {
    EXPECT_EQ(ParseUtcTime(text), time) << text;
    if (time && text.size() == 20) {
      EXPECT_EQ(FormatUtcTime(*time), text);
    }
  }

  const std::time_t now = 1800000000;  // 2027-01-15T08:00:00Z
  const std::string held = "Signed=2027-01-01T00:00:00Z\r\nExpires=2027-01-03T00:00:00Z\r\n";
  const std::string renewed = "Signed=2027-01-15T08:00:00Z\r\nExpires=2027-01-17T08:00:00Z\r\n";
  const struct {
    std::string Text;
    SigningStamp Stamp;
    std::string Stamped;
  } rows[] = {
      {"[Files]\r\nSerial=1\r\n",
       {.Signers = {"K1"}, .Now = now},
       "[Files]\r\nSignedBy=K1\r\nSerial=1\r\n"},
      {"[Files]\nSignedBy=old\nSerial=1",
       {.Signers = {"K1", "K2"}, .ExpiresDays = 30, .Now = now},
       "[Files]\nSigned=2027-01-15T08:00:00Z\nExpires=2027-02-14T08:00:00Z\nSignedBy=K1;K2\n"
       "Serial=1"},
      // the span it held, from now; none given, or none to keep; 0 ends it
      {"[Files]\r\n" + held,
       {.Signers = {"K1"}, .Now = now},
       "[Files]\r\nSignedBy=K1\r\n" + renewed},
      {"[Files]\r\nExpires=2027-06-01\r\n",
       {.Signers = {"K1"}, .Now = now},
       "[Files]\r\nSignedBy=K1\r\nExpires=2027-06-01\r\n"},
      {"[Files]\r\n" + held + "Serial=2\r\n",
       {.Signers = {"K1"}, .ExpiresDays = 0, .Now = now},
       "[Files]\r\nSignedBy=K1\r\nSerial=2\r\n"},
      {"[Files]\r\nNextKey=K2\r\n",
       {.Signers = {"K2"}, .Now = now, .RevokeKey = "K1"},
       "[Files]\r\nRevokeKey=K1\r\nSignedBy=K2\r\nNextKey=K2\r\n"},
      {"[Files]\r\nNextKey=K2\r\n",
       {.Signers = {"K1"}, .Now = now, .NextKey = "K3"},
       "[Files]\r\nSignedBy=K1\r\nNextKey=K3\r\n"},
      {"[File1]\r\nK=a", {.Signers = {"K1"}, .ExpiresDays = 5, .Now = now}, "[File1]\r\nK=a"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(StampSigning(row.Text, row.Stamp), row.Stamped) << row.Text;
  for (const auto& [text, days] :
       std::vector<std::pair<std::string, std::optional<int>>>{{"0", 0},
                                                               {"30", 30},
                                                               {"3650", 3650},
                                                               {"3651", std::nullopt},
                                                               {"-1", std::nullopt},
                                                               {"", std::nullopt},
                                                               {"1e3", std::nullopt}})
    EXPECT_EQ(ParseExpiryDays(text), days) << text;
}

// A publish from the command line changes an entry's lines and nothing else: the other lines,
// their spelling and their line ends stay; a text it cannot change safely is refused.
TEST(PublisherModelTest, ManifestTextEdits) {
  // Before, and after: SHA256=x set, Size=5 set (after SHA256=), Delta lines removed, Delta1=d
  // set, an entry appended.
  const std::pair<std::string, std::string> edits[] = {
      {"[Files]\r\n[File1]\r\nFilename=A.DLL\r\nDelta2=old\r\n",
       "[Files]\r\n[File1]\r\nFilename=A.DLL\r\nSHA256=x\r\nSize=5\r\nDelta1=d\r\n[File]\r\nKey=b"},
      {"[Files]\n[File1]\nfilename = a.dll\nsha256 = y\ndelta1=z",
       "[Files]\n[File1]\nfilename = a.dll\nsha256 =x\nSize=5\nDelta1=d\n[File]\nKey=b"},
      {"[Files]\r\n[File1]\r\nFilename=a.dll\r\n\r\n[File2]\r\nFilename=b\r\n",
       "[Files]\r\n[File1]\r\nFilename=a.dll\r\nSHA256=x\r\nSize=5\r\nDelta1=d\r\n\r\n[File2]\r\n"
       "Filename=b\r\n[File]\r\nKey=b"},
      {"[Files]",
       "[Files]\r\n[File]\r\nFilename=a.dll\r\nSHA256=x\r\nSize=5\r\nDelta1=d\r\n[File]\r\nKey=b"},
      {"[Files]\n[File1]\nSHA256=y\nFilename=a.dll\nSize=1\n[File2]\nsha256=y\nfilename=b\nSize=1",
       "[Files]\n[File1]\nSHA256=x\nFilename=a.dll\nSize=5\nDelta1=d\n[File2]\nsha256=y\n"
       "filename=b\nSize=1\n[File]\nKey=b"},
      {"[Files]\n[File1]\nSHA256=y\nFilename=a.dll",
       "[Files]\n[File1]\nSHA256=x\nSize=5\nFilename=a.dll\nDelta1=d\n[File]\nKey=b"},
  };
  for (const auto& [before, after] : edits) {
    ManifestText text(before);
    std::optional<std::size_t> entry = text.FindEntry("a.dll");
    if (!entry) entry = text.Append("[File]\r\nFilename=a.dll");
    text.SetValue(*entry, "SHA256", "x");
    text.SetValue(*entry, "Size", "5", "SHA256");
    text.RemoveKeys(*entry, IsDeltaKey);
    text.SetValue(*entry, "Delta1", "d");
    text.Append("[File]\r\nKey=b");
    EXPECT_EQ(text.Text(), after) << before;
  }
  const std::pair<std::string, std::string> problems[] = {
      {"", ""},
      {"  \r\n[files]\r\nSerial=1\r\n[File1]\r\nKey=a", ""},
      {"Serial=1\r\n[Files]", "line 1 is a setting before the first section"},
      {"[File1]\r\nKey=a", "its first section is [File1], not [Files]"},
      {"[Files]\r\n[File1\r\nKey=a", "line 2 opens a section without closing it with ']'"},
      {"[Files]\r\n<html>", "line 2 is neither a [section] nor a key=value line"},
      {std::string("[Files]\0", 8), "it holds a NUL byte: it is no text"},
  };
  for (const auto& [text, problem] : problems)
    EXPECT_EQ(ManifestText(text).Problem().value_or(""), problem) << text;
}

}  // namespace
}  // namespace tandor
