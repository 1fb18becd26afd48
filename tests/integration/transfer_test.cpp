// The network client against servers.py on 127.0.0.1: FTP in active mode (passive: the TLS
// rows and the fault test), HTTP, and HTTPS and FTPS with certificates made for the run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Error.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/TempDir.h"
#include "transfer/FTP.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using ::testing::StartsWith;

using TransferEvents = std::vector<std::pair<std::int64_t, std::int64_t>>;

// Bytes that differ from place to place, so that a chunk landing in the wrong place shows.
std::string PatternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return bytes;
}

// One event per full chunk of 10240 bytes, then one for the whole size.
TransferEvents ChunkEvents(std::int64_t size) {
  TransferEvents events;
  for (std::int64_t count = 10240; count <= size; count += 10240) events.emplace_back(count, size);
  events.emplace_back(size, size);
  return events;
}

// A client connected to a fresh server, recording its events.
class FtpTransferTest : public ::testing::Test {
 protected:
  FtpTransferTest() {
    mFtp.SetEvents({[this] { ++mPumps; },
                    [this](std::int64_t now, std::int64_t all) { mEvents.emplace_back(now, all); },
                    {}});
    EXPECT_TRUE(mFtp.OpenConnection("127.0.0.1", "tandor", "secret", mServer.PortText()));
  }

  TempDir mDir;
  FtpServer mServer{mDir / "srv"};
  FTP mFtp;
  TransferEvents mEvents;
  int mPumps = 0;
};

// One event per full chunk and a last one, both ways, names trimmed; a longer file in place
// ends up holding exactly the new bytes.
TEST_F(FtpTransferTest, ChunkedTransfersRaiseAnEventPerChunk) {
  const fs::path local = mDir / "f.bin", remote = mServer.Root() / "sub dir" / "f.bin";
  const std::pair<bool, int> rows[] = {
      {false, 5}, {false, 10240}, {false, 10241}, {true, 0}, {true, 10241}};
  for (const auto& [upload, size] : rows) {
    SCOPED_TRACE(::testing::Message() << (upload ? "upload " : "download ") << size);
    WriteFile(upload ? local : remote, PatternBytes(size));
    WriteFile(upload ? remote : local, PatternBytes(size + 5000) + "tail");
    mEvents.clear();
    mPumps = 0;
    ASSERT_TRUE(upload ? mFtp.FTPUploadFile(local, " sub dir/f.bin ")
                       : mFtp.FTPDownloadFile(local, " sub dir/f.bin "));
    EXPECT_EQ(ReadFile(upload ? remote : local), PatternBytes(size));
    EXPECT_EQ(mEvents, ChunkEvents(size));
    EXPECT_EQ(mPumps, size / 10240);
  }
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");
}

// A download announced ahead is taken where its request stands; any other request drops it
// (over FTP with its connection) and still gets its own file, in either transfer mode. A
// missing file announced ahead fails quietly when asked for, and the connection goes on.
TEST_F(FtpTransferTest, AnnouncedDownloadsGoAheadOrAreDropped) {
  for (const char* name : {"a.txt", "b.txt", "c.txt"})
    WriteFile(mServer.Root() / name, std::string(name) + " bytes");
  const struct {
    const char *Announced, *Remote;
    bool Ascii;
  } steps[] = {
      {"b.txt", "a.txt", false},    {"", "b.txt", false},         {"c.txt", "a.txt", false},
      {"", "c.txt", true},          {"a.txt", "c.txt", false},    {"", "b.txt", false},
      {"gone.txt", "a.txt", false}, {"b.txt", "gone.txt", false}, {"", "b.txt", false}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.Remote);
    if (step.Ascii)
      mFtp.SetTransferASCII();
    else
      mFtp.SetTransferBinary();
    const bool exists = fs::exists(mServer.Root() / step.Remote);
    const std::string before = ReadFile(mDir / "got.txt");
    const DownloadRequest request{
        .Target = mDir / "got.txt", .Remote = step.Remote, .Following = step.Announced};
    EXPECT_EQ(mFtp.Download(request).Done(), exists) << mFtp.GetLastErrorMessage();
    EXPECT_EQ(ReadFile(mDir / "got.txt"), exists ? std::string(step.Remote) + " bytes" : before);
  }
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");
}

// The one-call transfers move whole files without events. A missing or empty remote file, or
// a blank name, fails quietly and leaves the local file; the one-call transfer's refusal is the
// server's reply. A missing local file is the one-call transfer's own failure, and passes to the
// caller of a chunked upload, leaving nothing on the server. An upload the server cuts off fails.
TEST_F(FtpTransferTest, OneCallTransfersAndFailures) {
  WriteFile(mDir / "one.bin", PatternBytes(30000));
  WriteFile(mServer.Root() / "empty.bin", "");
  EXPECT_TRUE(mFtp.SimpleFTPPutFile(mDir / "one.bin", "one.bin"));
  EXPECT_TRUE(mFtp.SimpleFTPGetFile(mDir / "back.bin", "one.bin"));
  for (const char* remote : {"nothing-here.bin", "empty.bin", "   "})
    EXPECT_FALSE(mFtp.FTPDownloadFile(mDir / "back.bin", remote)) << remote;
  EXPECT_FALSE(mFtp.FTPUploadFile(mDir / "back.bin", ""));
  EXPECT_EQ(mFtp.GetFTPFileSize("nothing-here.bin"), -1);
  EXPECT_EQ(ReadFile(mDir / "back.bin"), PatternBytes(30000));
  EXPECT_TRUE(mEvents.empty());
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");
  EXPECT_FALSE(mFtp.SimpleFTPGetFile(mDir / "none.bin", "none.bin"));
  EXPECT_FALSE(fs::exists(mDir / "none.bin"));
  EXPECT_THAT(mFtp.GetLastErrorMessage(), StartsWith("550 "));
  EXPECT_FALSE(mFtp.SimpleFTPPutFile(mDir / "absent.bin", "absent.bin"));
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "SimpleFtpPutFile error code: 2 Message: ");
  EXPECT_THAT([&] { mFtp.FTPUploadFile(mDir / "absent.bin", "a.bin"); },
              ::testing::Throws<RuntimeError>(
                  ::testing::Property(&RuntimeError::Number, err::FileNotFound)));
  EXPECT_FALSE(fs::exists(mServer.Root() / "a.bin"));

  const std::string content = PatternBytes(400 * 1024);
  WriteFile(mDir / "big.bin", content);
  EXPECT_FALSE(mFtp.FTPUploadFile(mDir / "big.bin", "cutoff.bin"));
  // Either the connection broke under a chunk, or the server's refusal came back.
  EXPECT_THAT(
      mFtp.GetLastErrorMessage(),
      ::testing::AnyOf(StartsWith("InternetWriteFile error code: 1203"), StartsWith("426 ")));
  EXPECT_LT(ReadFile(mServer.Root() / "cutoff.bin").size(), content.size());
}

// Relative names refer to the current folder; a refusal is the server's reply.
TEST_F(FtpTransferTest, RemoteFileManagementAndCurrentFolder) {
  EXPECT_EQ(mFtp.GetFTPDirectory(), "/");
  EXPECT_TRUE(mFtp.CreateFTPDirectory("new dir") && mFtp.SetFTPDirectory("new dir"));
  EXPECT_EQ(mFtp.GetFTPDirectory(), "/new dir");
  WriteFile(mDir / "up.txt", "up");
  EXPECT_TRUE(mFtp.FTPUploadFile(mDir / "up.txt", "up.txt"));
  EXPECT_EQ(mFtp.GetDirectoryListing("*")->Item(1).FileName, "up.txt");
  EXPECT_TRUE(mFtp.RenameFTPFile("up.txt", "/moved.txt") && mFtp.SetFTPDirectory("..") &&
              mFtp.RemoveFTPDirectory("new dir") && mFtp.DeleteFTPFile("moved.txt"));
  EXPECT_TRUE(fs::is_empty(mServer.Root()));
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");
  for (bool result : {mFtp.SetFTPDirectory("nowhere"), mFtp.RemoveFTPDirectory("nowhere"),
                      mFtp.RenameFTPFile("nothing", "x"), mFtp.DeleteFTPFile("nothing")})
    EXPECT_FALSE(result);
  EXPECT_THAT(mFtp.GetLastErrorMessage(), StartsWith("550 "));
}

// Failures at connect with their messages, after which nothing works; a port text that is no
// port number throws; connecting again, with blanks around the port, works.
TEST_F(FtpTransferTest, Connections) {
  const std::string down = FtpServer(mDir / "gone").PortText();  // stopped again
  const std::pair<std::string, std::string> rows[] = {
      {mServer.PortText(), "12014 Message: The server did not accept the user name or password."},
      {down, "12029"},
      {"", "12007"}};
  for (const auto& [port, message] : rows) {
    FTP ftp;
    EXPECT_FALSE(ftp.OpenConnection(port.empty() ? "no-such-host.invalid" : "127.0.0.1", "tandor",
                                    "wrong", port.empty() ? "21" : port));
    EXPECT_THAT(ftp.GetLastErrorMessage(), StartsWith("InternetConnect error code: " + message));
    EXPECT_EQ(ftp.GetFTPDirectory(), "");
    EXPECT_EQ(ftp.GetLastErrorMessage(), "FtpGetCurrentDirectory error code: 6 Message: ");
  }
  for (const char* port : {"70000", "21x"})  // no port number: an error for the caller
    EXPECT_THROW(mFtp.OpenConnection("127.0.0.1", "u", "p", port), RuntimeError) << port;
  ASSERT_GT(mServer.Port(), 32767);
  ASSERT_TRUE(mFtp.OpenConnection("127.0.0.1", "tandor", "secret", " " + mServer.PortText() + " "));
  WriteFile(mServer.Root() / "a.txt", "abc");
  EXPECT_EQ(mFtp.GetFTPFileSize("a.txt"), 3);
}

TEST(HttpTransferTest, DownloadsRaiseAnEventPerChunkAndAskPastTheCaches) {
  TempDir dir;
  HttpServer server(dir / "www", {{"/moved.bin", "/dir name/file.bin"}});
  TransferEvents events;
  FTP http({{}, [&](std::int64_t now, std::int64_t all) { events.emplace_back(now, all); }, {}});
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
    ASSERT_TRUE(http.HTTPDownloadFile(dir / "file.bin", remote)) << http.GetLastErrorMessage();
    EXPECT_EQ(ReadFile(dir / "file.bin"), PatternBytes(size));
    EXPECT_EQ(events, ChunkEvents(size));
    EXPECT_EQ(http.GetHTTPFileSize(), size);
  }
  // A missing file is refused quietly and leaves the previous one.
  EXPECT_FALSE(http.HTTPDownloadFile(dir / "file.bin", "/missing.bin"));
  EXPECT_EQ(http.GetHTTPFileSize(), -1);
  EXPECT_EQ(http.GetLastErrorMessage(), "");
  EXPECT_EQ(ReadFile(dir / "file.bin"), PatternBytes(10241));
  for (const char* header : {"Cache-Control: no-cache", "Pragma: no-cache", "User-Agent: Tandor"})
    EXPECT_THAT(server.RequestLog(), ::testing::HasSubstr(header));
  // The server is only remembered: connecting happens at the request.
  ASSERT_TRUE(http.OpenConnection("127.0.0.1", "", "", HttpServer(dir / "gone").PortText()));
  EXPECT_FALSE(http.HTTPDownloadFile(dir / "x.bin", "/x.bin"));
  EXPECT_THAT(http.GetLastErrorMessage(), StartsWith("HttpSendRequest error code: 12029"));
  EXPECT_EQ(http.GetHTTPFileSize(), -2);
}

// A download limited to a size is taken whole up to that size; one byte more is refused, before
// any of it when the server announced the size, else at the byte past the limit. A refused file
// leaves the local one as it was, and the download after it is not limited.
TEST(TransferLimitTest, DownloadsStopAtTheirLimit) {
  TempDir dir;
  for (const char* name : {"sized.bin", "chunked.bin"})
    WriteFile(dir / "srv" / name, PatternBytes(30000));
  HttpServer http(dir / "srv", {}, {"/chunked.bin"}, "chunked");
  FtpServer ftp(dir / "srv");
  const struct {
    bool Ftp;
    const char* Remote;
    std::int64_t Limit;
    std::size_t Events;  // of a refused download
  } rows[] = {{false, "/sized.bin", 30000, 0},   {false, "/sized.bin", 29999, 0},
              {false, "/chunked.bin", 30000, 0}, {false, "/chunked.bin", 29999, 2},
              {true, "sized.bin", 30000, 0},     {true, "sized.bin", 29999, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.Remote) + " " + std::to_string(row.Limit));
    TransferEvents events;
    FTP client(
        {{}, [&](std::int64_t now, std::int64_t all) { events.emplace_back(now, all); }, {}});
    if (!row.Ftp) client.Service(FTP::ServiceHttp);
    ASSERT_TRUE(client.OpenConnection("127.0.0.1", "tandor", "secret",
                                      row.Ftp ? ftp.PortText() : http.PortText()));
    const auto download = [&](std::int64_t limit) {
      return client.Download({.Target = dir / "got.bin", .Remote = row.Remote, .Limit = limit});
    };
    WriteFile(dir / "got.bin", "old");
    const bool whole = row.Limit >= 30000;
    const TransferResult limited = download(row.Limit);
    EXPECT_EQ(limited.Done(), whole);
    EXPECT_EQ(limited.Status == TransferResult::State::OverLimit, !whole);
    EXPECT_EQ(ReadFile(dir / "got.bin"), whole ? PatternBytes(30000) : "old");
    if (whole) continue;
    EXPECT_EQ(events.size(), row.Events);
    EXPECT_THAT(client.GetLastErrorMessage(),
                StartsWith("InternetReadFile error code: 223 Message: The file is larger than the "
                           "limit of 29999 bytes."));
    const TransferResult unlimited = download(-1);
    EXPECT_TRUE(unlimited.Done()) << client.GetLastErrorMessage();
    EXPECT_FALSE(unlimited.Status == TransferResult::State::OverLimit);
    EXPECT_EQ(ReadFile(dir / "got.bin"), PatternBytes(30000));
  }
  EXPECT_THAT(std::vector<fs::path>(fs::directory_iterator(dir.Path()), fs::directory_iterator()),
              ::testing::UnorderedElementsAre(dir / "srv", dir / "srv.log", dir / "got.bin"));
}

// Downloads whose options share a rate keep to it together, also from two threads at once;
// neither fails as too slow, though each gets less than the low-speed floor, and the window gets
// its turn every 25 ms while they wait.
TEST(TransferRateTest, DownloadsSharingOptionsShareTheirRate) {
  TempDir dir;
  WriteFile(dir / "srv" / "a.bin", PatternBytes(128 << 10));
  FtpServer server(dir / "srv");
  FtpOptions options;
  options.DownloadRate = std::make_shared<RateLimit>(64 << 10);
  options.IdleTimeout = std::chrono::seconds(2);
  options.LowSpeedLimit = 1 << 20;
  std::atomic<int> waits = 0;
  std::string errors[2];
  const auto start = std::chrono::steady_clock::now();
  {
    std::vector<std::jthread> threads;
    for (std::string& error : errors)
      threads.emplace_back([&] {
        const fs::path got = dir / ("got" + std::to_string(&error - errors));
        FTP client({{}, {}, [&] { ++waits; }}, options);
        if (!client.OpenConnection("127.0.0.1", "tandor", "secret", server.PortText()) ||
            !client.FTPDownloadFile(got, "a.bin") || ReadFile(got) != PatternBytes(128 << 10))
          error = client.GetLastErrorMessage() + " ";
      });
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(errors[0] + errors[1], "");
  EXPECT_GE(seconds, 3.5);  // 256 KiB less the burst of 16 KiB at 64 KiB/s: 3.75 s
  EXPECT_GE(waits, seconds / 0.05);
}

TEST(TransferTlsTest, OnlyVerifiedCertificatesCarryATransfer) {
  TempDir dir;
  WriteFile(dir / "srv" / "a.txt", "secure\n");
  MakeCertificates(dir.Path());

  // FTPS or HTTPS, the server's certificate, whether the test authority is trusted, the host
  // asked for, and why it fails (empty: the file arrives).
  const std::tuple<bool, const char*, bool, const char*, const char*> rows[] = {
      {false, "good", true, "127.0.0.1", ""},
      {false, "good", true, "localhost", ""},
      {false, "good", false, "127.0.0.1", "unable to get local issuer certificate"},
      {false, "wronghost", true, "127.0.0.1", "subject name matches target host name"},
      {false, "expired", true, "127.0.0.1", "certificate has expired"},
      {false, "stranger", true, "127.0.0.1", "unable to get local issuer certificate"},
      {true, "good", true, "127.0.0.1", ""},
      {true, "good", false, "127.0.0.1", "unable to get local issuer certificate"},
      {true, "wronghost", true, "127.0.0.1", "subject name matches target host name"},
  };
  for (const auto& [ftps, certificate, caFile, host, reason] : rows) {
    SCOPED_TRACE(std::string(ftps ? "FTPS " : "HTTPS ") + certificate + " " + host);
    ServerProcess server(ServerCommand(ftps ? "ftp" : "nginx",
                                       {"--root", dir / "srv", "--cert", dir / certificate}));
    FtpOptions options;
    options.Tls = true;
    options.CaFile = caFile ? (dir / "ca.pem").string() : "";
    FTP client({}, options);
    if (!ftps) client.Service(FTP::ServiceHttp);
    client.SetModePassive();
    fs::remove(dir / "a.txt");
    const bool ok = client.OpenConnection(host, "tandor", "secret", server.PortText()) &&
                    (ftps ? client.FTPDownloadFile(dir / "a.txt", "a.txt")
                          : client.HTTPDownloadFile(dir / "a.txt", "/a.txt"));
    EXPECT_EQ(ok, *reason == '\0') << client.GetLastErrorMessage();
    EXPECT_EQ(ReadFile(dir / "a.txt"), ok ? "secure\n" : "");
    EXPECT_THAT(client.GetLastErrorMessage(), ::testing::HasSubstr(reason));
  }
}

}  // namespace
}  // namespace tandor::test
