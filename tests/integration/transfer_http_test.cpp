// HTTP downloads against a fixture server on 127.0.0.1; servers that misbehave are the fault
// test's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/HttpServer.h"
#include "support/TempDir.h"
#include "support/TransferData.h"
#include "transfer/FTP.h"

namespace tandor {
namespace {

using test::ChunkEvents;
using test::HttpServer;
using test::PatternBytes;
using test::ReadFile;
using test::TempDir;
using test::TransferEvents;
using test::WriteFile;
using ::testing::HasSubstr;

class HttpTransferTest : public ::testing::Test {
 protected:
  HttpTransferTest()
      : mServer(mDir / "www", {{"/moved.bin", "/files/target.bin"}}),
        mFtp({[this] { ++mPumps; },
              [this](std::int64_t current, std::int64_t total) {
                mEvents.emplace_back(current, total);
              },
              {}}) {
    mFtp.Service(FTP::ServiceHttp);
    EXPECT_TRUE(mFtp.OpenConnection("127.0.0.1", "", "", mServer.PortText()));
  }

  TempDir mDir;
  HttpServer mServer;
  TransferEvents mEvents;
  int mPumps = 0;
  int mWaits = 0;  // turns the window got while the request waited
  FTP mFtp;
};

TEST_F(HttpTransferTest, DownloadRaisesOneEventPerChunkAndALastOne) {
  for (std::size_t size : {5u, 10240u, 10241u}) {
    SCOPED_TRACE(size);
    const std::string content = PatternBytes(size);
    WriteFile(mDir / "www" / "dir name" / "file.bin", content);
    WriteFile(mDir / "file.bin", PatternBytes(size + 777));
    mEvents.clear();
    mPumps = 0;
    ASSERT_TRUE(mFtp.HTTPDownloadFile(mDir / "file.bin", " /dir name/file.bin "))
        << mFtp.GetLastErrorMessage();
    EXPECT_EQ(ReadFile(mDir / "file.bin"), content);
    EXPECT_EQ(mEvents, ChunkEvents(static_cast<std::int64_t>(size)));
    EXPECT_EQ(mPumps, static_cast<int>(size / 10240));
    EXPECT_EQ(mFtp.GetHTTPFileSize(), static_cast<std::int64_t>(size));
  }
  // A missing file is refused quietly and leaves the previous one.
  EXPECT_FALSE(mFtp.HTTPDownloadFile(mDir / "file.bin", "/missing.bin"));
  EXPECT_EQ(mFtp.GetHTTPFileSize(), -1);
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");
  EXPECT_EQ(ReadFile(mDir / "file.bin"), PatternBytes(10241));
  // Every request asks past the caches.
  const std::string log = mServer.RequestLog();
  EXPECT_THAT(log, HasSubstr("Cache-Control: no-cache"));
  EXPECT_THAT(log, HasSubstr("Pragma: no-cache"));
  EXPECT_THAT(log, HasSubstr("User-Agent: Tandor"));
}

TEST_F(HttpTransferTest, RedirectsAreFollowed) {
  WriteFile(mDir / "www" / "files" / "target.bin", "moved content");
  EXPECT_TRUE(mFtp.HTTPDownloadFile(mDir / "got.bin", "/moved.bin"));
  EXPECT_EQ(ReadFile(mDir / "got.bin"), "moved content");
}

TEST_F(HttpTransferTest, FailedSendRecordsItsMessage) {
  int freePort = 0;
  {
    HttpServer other(mDir / "other");
    freePort = other.Port();
  }
  FTP ftp;
  ftp.Service(FTP::ServiceHttp);
  // The server is only remembered: connecting happens at the request.
  ASSERT_TRUE(ftp.OpenConnection("127.0.0.1", "", "", std::to_string(freePort)));
  EXPECT_FALSE(ftp.HTTPDownloadFile(mDir / "x.bin", "/x.bin"));
  EXPECT_EQ(ftp.GetLastErrorMessage(),
            "HttpSendRequest error code: 12029 Message: A connection with the server could not "
            "be established.");
  EXPECT_EQ(ftp.GetHTTPFileSize(), -2);
  EXPECT_FALSE(std::filesystem::exists(mDir / "x.bin"));
}

}  // namespace
}  // namespace tandor
