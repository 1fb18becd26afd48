// HTTP downloads against a fixture server on 127.0.0.1 that can also misbehave.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
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
using test::HttpFault;
using test::HttpServer;
using test::PatternBytes;
using test::ReadFile;
using test::TempDir;
using test::TransferEvents;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr std::size_t FaultSize = 50000;

class HttpTransferTest : public ::testing::Test {
 protected:
  HttpTransferTest()
      : mServer(mDir / "www", {{"/gone.bin", HttpFault::Status404},
                               {"/broken.bin", HttpFault::Status500},
                               {"/nolength.bin", HttpFault::NoLength},
                               {"/chunked.bin", HttpFault::Chunked},
                               {"/early.bin", HttpFault::CloseEarly},
                               {"/stall.bin", HttpFault::Stall},
                               {"/trickle.bin", HttpFault::Trickle},
                               {"/extra.bin", HttpFault::Extra},
                               {"/moved.bin", HttpFault::Redirect, "/files/target.bin"}}),
        mFtp({[this] { ++mPumps; },
              [this](std::int64_t current, std::int64_t total) {
                mEvents.emplace_back(current, total);
              },
              [this] { ++mWaits; }},
             Options()) {
    for (const char* name :
         {"nolength.bin", "chunked.bin", "early.bin", "stall.bin", "extra.bin", "good.bin"}) {
      WriteFile(mDir / "www" / name, PatternBytes(FaultSize));
    }
    // Sent at 10 bytes a second, this would take 6 s.
    WriteFile(mDir / "www" / "trickle.bin", PatternBytes(60));
    mFtp.Service(FTP::ServiceHttp);
    EXPECT_TRUE(mFtp.OpenConnection("127.0.0.1", "", "", mServer.PortText()));
  }

  static FtpOptions Options() {
    FtpOptions options;
    // Slow servers must not hold us long: under 1 KiB/s for 2 s fails.
    options.IdleTimeout = std::chrono::seconds(2);
    return options;
  }

  TempDir mDir;
  HttpServer mServer;
  TransferEvents mEvents;
  int mPumps = 0;
  int mWaits = 0;  // turns the window got while the request waited
  FTP mFtp;
};

TEST_F(HttpTransferTest, DownloadRaisesOneEventPerChunkAndALastOne) {
  for (std::size_t size : {5u, 10240u, 10241u, 3u * 10240u}) {
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
  // Every request asks past the caches.
  const std::string log = mServer.RequestLog();
  EXPECT_THAT(log, HasSubstr("Cache-Control: no-cache"));
  EXPECT_THAT(log, HasSubstr("Pragma: no-cache"));
  EXPECT_THAT(log, HasSubstr("User-Agent: Tandor"));
}

TEST_F(HttpTransferTest, RepliesAreTakenOrRefusedByTheirStatus) {
  struct Case {
    const char* path;
    bool taken;
    std::int64_t size;
    const char* message;  // what GetLastErrorMessage holds afterwards
  };
  WriteFile(mDir / "www" / "empty.bin", "");
  const std::string content = PatternBytes(FaultSize);
  // A reply without a length is taken whole; its chunks come without a total.
  for (const Case& c : {Case{"/nolength.bin", true, FaultSize, ""},
                        Case{"/chunked.bin", true, FaultSize, ""}, Case{"/gone.bin", false, -1, ""},
                        Case{"/missing.bin", false, -1, ""}, Case{"/empty.bin", false, 0, ""},
                        Case{"/broken.bin", false, -2, "500 Internal Server Error"}}) {
    SCOPED_TRACE(c.path);
    WriteFile(mDir / "local.bin", "previous");
    mEvents.clear();
    EXPECT_EQ(mFtp.HTTPDownloadFile(mDir / "local.bin", c.path), c.taken);
    EXPECT_EQ(mFtp.GetHTTPFileSize(), c.size);
    EXPECT_EQ(mFtp.GetLastErrorMessage(), c.message);
    EXPECT_TRUE(ReadFile(mDir / "local.bin") == (c.taken ? content : "previous"));
    EXPECT_EQ(mEvents, c.taken ? ChunkEvents(FaultSize, -1) : TransferEvents{});
  }
}

TEST_F(HttpTransferTest, BrokenDownloadsFailAndLeaveThePreviousFileUntouched) {
  struct Case {
    const char* path;
    const char* message;
  };
  for (const Case& c :
       {Case{"/early.bin",
             "InternetReadFile error code: 12030 Message: The connection with the server was "
             "ended before the operation finished."},
        Case{"/stall.bin", "InternetReadFile error code: 12002 Message: The operation timed out."},
        Case{"/trickle.bin",
             "InternetReadFile2 error code: 12002 Message: The operation timed out."},
        Case{"/extra.bin",
             "InternetReadFile2 error code: 12152 Message: The server response could not be "
             "understood."}}) {
    SCOPED_TRACE(c.path);
    WriteFile(mDir / "local.bin", "previous");
    mEvents.clear();
    mWaits = 0;
    EXPECT_FALSE(mFtp.HTTPDownloadFile(mDir / "local.bin", c.path));
    EXPECT_EQ(mFtp.GetLastErrorMessage(), c.message);
    // A silent server still leaves the window its turns, many times a second (libcurl's own
    // loop would give one a second): EXIT is not held up by a stalled transfer.
    if (std::string(c.path) == "/stall.bin") {
      EXPECT_GE(mWaits, 20);
    }
    EXPECT_TRUE(ReadFile(mDir / "local.bin") == "previous");
    // Only whole chunks were reported, and no last event.
    for (const auto& event : mEvents) {
      EXPECT_EQ(event.first % 10240, 0);
      EXPECT_LT(event.first, static_cast<std::int64_t>(FaultSize));
    }
    // The broken reply leaves nothing behind for the next request on this connection.
    mEvents.clear();
    EXPECT_TRUE(mFtp.HTTPDownloadFile(mDir / "next.bin", "/good.bin"))
        << mFtp.GetLastErrorMessage();
    EXPECT_TRUE(ReadFile(mDir / "next.bin") == PatternBytes(FaultSize));
  }
  // No half file is left beside the target either.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(mDir.Path())) {
    files += entry.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(files, 3);  // local.bin, next.bin and the server's request log
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
