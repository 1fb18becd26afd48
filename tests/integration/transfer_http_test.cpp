// HTTP downloads from the HTTP server of servers.py on 127.0.0.1; the server's faults are the
// fault test's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "support/HttpServer.h"
#include "support/TempDir.h"
#include "support/TransferData.h"
#include "transfer/FTP.h"

namespace tandor::test {
namespace {

using ::testing::HasSubstr;

TEST(HttpTransferTest, DownloadsRaiseAnEventPerChunkAndAskPastTheCaches) {
  TempDir dir;
  HttpServer server(dir / "www", {{"/moved.bin", "/dir name/file.bin"}});
  TransferEvents events;
  int pumps = 0;
  FTP http({[&] { ++pumps; },
            [&](std::int64_t now, std::int64_t all) { events.emplace_back(now, all); },
            {}});
  http.Service(FTP::ServiceHttp);
  ASSERT_TRUE(http.OpenConnection("127.0.0.1", "", "", server.PortText()));
  // The name is trimmed and a redirect followed; a longer file in place ends up holding exactly
  // the new bytes.
  const std::pair<int, const char*> rows[] = {
      {5, " /dir name/file.bin "}, {10240, "/moved.bin"}, {10241, "/dir name/file.bin"}};
  for (const auto& [size, remote] : rows) {
    SCOPED_TRACE(size);
    WriteFile(dir / "www" / "dir name" / "file.bin", PatternBytes(size));
    WriteFile(dir / "file.bin", PatternBytes(size + 777));
    events.clear();
    pumps = 0;
    ASSERT_TRUE(http.HTTPDownloadFile(dir / "file.bin", remote)) << http.GetLastErrorMessage();
    EXPECT_EQ(ReadFile(dir / "file.bin"), PatternBytes(size));
    EXPECT_EQ(events, ChunkEvents(size));
    EXPECT_EQ(pumps, size / 10240);
    EXPECT_EQ(http.GetHTTPFileSize(), size);
  }
  // A missing file is refused quietly and leaves the previous one.
  EXPECT_FALSE(http.HTTPDownloadFile(dir / "file.bin", "/missing.bin"));
  EXPECT_EQ(http.GetHTTPFileSize(), -1);
  EXPECT_EQ(http.GetLastErrorMessage(), "");
  EXPECT_EQ(ReadFile(dir / "file.bin"), PatternBytes(10241));
  for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache", "User-Agent: Tandor"})
    EXPECT_THAT(server.RequestLog(), HasSubstr(header));
}

// The server is only remembered: connecting happens at the request.
TEST(HttpTransferTest, FailedSendRecordsItsMessage) {
  TempDir dir;
  const std::string down = HttpServer(dir / "gone").PortText();  // stopped again
  FTP http;
  http.Service(FTP::ServiceHttp);
  ASSERT_TRUE(http.OpenConnection("127.0.0.1", "", "", down));
  EXPECT_FALSE(http.HTTPDownloadFile(dir / "x.bin", "/x.bin"));
  EXPECT_EQ(http.GetLastErrorMessage(),
            "HttpSendRequest error code: 12029 Message: A connection with the server could not "
            "be established.");
  EXPECT_EQ(http.GetHTTPFileSize(), -2);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.bin"));
}

}  // namespace
}  // namespace tandor::test
