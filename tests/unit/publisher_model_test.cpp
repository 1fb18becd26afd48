// The publisher's work without a window: upload names and versions of picked files.

#include "publisher/Publisher.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <utime.h>

#include <ctime>
#include <tuple>

#include "VersionedElf.h"
#include "platform/Error.h"
#include "platform/Prefix.h"
#include "support/TempDir.h"
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

}  // namespace
}  // namespace tandor
