// FTP transfers against a real pyftpdlib server on 127.0.0.1: every case in active mode, the
// updater's own, and passive mode once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "support/TransferData.h"
#include "transfer/FTP.h"

namespace tandor {
namespace {

using test::ChunkEvents;
using test::FtpServer;
using test::FtpServerOptions;
using test::PatternBytes;
using test::ReadFile;
using test::TempDir;
using test::TransferEvents;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// A connected client whose events are recorded.
class FtpTransferTest : public ::testing::TestWithParam<bool> {
 protected:
  FtpTransferTest() : mServer(mDir / "srv") {
    mFtp.SetEvents({[this] { ++mPumps; },
                    [this](std::int64_t current, std::int64_t total) {
                      mEvents.emplace_back(current, total);
                    },
                    {}});
    if (GetParam()) mFtp.SetModePassive();
  }

  void Connect() {
    ASSERT_TRUE(
        mFtp.OpenConnection("127.0.0.1", mServer.User(), mServer.Password(), mServer.PortText()))
        << mFtp.GetLastErrorMessage();
  }

  TempDir mDir;
  FtpServer mServer;
  FTP mFtp;
  TransferEvents mEvents;
  int mPumps = 0;
};

INSTANTIATE_TEST_SUITE_P(Modes, FtpTransferTest, ::testing::Values(false),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST_P(FtpTransferTest, DownloadRaisesOneEventPerChunkAndALastOne) {
  Connect();
  for (std::size_t size : {5u, 10240u, 10241u}) {
    SCOPED_TRACE(size);
    const std::string content = PatternBytes(size);
    WriteFile(mServer.Root() / "file.bin", content);
    // A longer file already in place must end up holding exactly the new bytes.
    WriteFile(mDir / "file.bin", PatternBytes(size + 5000) + "tail");
    mEvents.clear();
    mPumps = 0;
    ASSERT_TRUE(mFtp.FTPDownloadFile(mDir / "file.bin", "file.bin"));
    EXPECT_EQ(ReadFile(mDir / "file.bin"), content);
    EXPECT_EQ(mEvents, ChunkEvents(static_cast<std::int64_t>(size)));
    EXPECT_EQ(mPumps, static_cast<int>(size / 10240));
  }
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");
}

TEST_P(FtpTransferTest, UploadRaisesOneEventPerChunkAndALastOne) {
  Connect();
  std::filesystem::create_directories(mServer.Root() / "sub dir");
  for (std::size_t size : {0u, 10241u}) {
    SCOPED_TRACE(size);
    const std::string content = PatternBytes(size);
    WriteFile(mDir / "up.bin", content);
    mEvents.clear();
    ASSERT_TRUE(mFtp.FTPUploadFile(mDir / "up.bin", " sub dir/up.bin "))
        << mFtp.GetLastErrorMessage();
    EXPECT_EQ(ReadFile(mServer.Root() / "sub dir" / "up.bin"), content);
    EXPECT_EQ(mEvents, ChunkEvents(static_cast<std::int64_t>(size)));
  }
}

// A missing or empty remote file, or an empty name, fails quietly and leaves the local file.
TEST_P(FtpTransferTest, MissingOrEmptyRemoteFileFailsWithoutEventOrMessage) {
  Connect();
  WriteFile(mDir / "keep.bin", "old");
  EXPECT_FALSE(mFtp.FTPDownloadFile(mDir / "keep.bin", "nothing-here.bin"));
  EXPECT_EQ(ReadFile(mDir / "keep.bin"), "old");
  EXPECT_EQ(mFtp.GetFTPFileSize("nothing-here.bin"), -1);
  WriteFile(mServer.Root() / "empty.bin", "");
  EXPECT_FALSE(mFtp.FTPDownloadFile(mDir / "empty.bin", "empty.bin"));
  EXPECT_FALSE(std::filesystem::exists(mDir / "empty.bin"));
  EXPECT_FALSE(mFtp.FTPDownloadFile(mDir / "x.bin", "   "));
  EXPECT_FALSE(mFtp.FTPDownloadFile("  ", "empty.bin"));
  EXPECT_FALSE(mFtp.FTPUploadFile(mDir / "x.bin", ""));
  EXPECT_TRUE(mEvents.empty());
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "");
}

TEST_P(FtpTransferTest, ServerRefusalKeepsTheServersReplyAlone) {
  Connect();
  // The server refuses to open a folder as a file; its reply is the whole message.
  std::filesystem::create_directories(mServer.Root() / "folder");
  EXPECT_FALSE(mFtp.DeleteFTPFile("folder/none.bin"));
  EXPECT_THAT(mFtp.GetLastErrorMessage(), StartsWith("550 "));
  EXPECT_THAT(mFtp.GetLastErrorMessage(), Not(HasSubstr("error code")));
  // A later success leaves the message in place.
  WriteFile(mServer.Root() / "a.bin", "a");
  EXPECT_TRUE(mFtp.FTPDownloadFile(mDir / "a.bin", "a.bin"));
  EXPECT_THAT(mFtp.GetLastErrorMessage(), StartsWith("550 "));
}

TEST_P(FtpTransferTest, UploadCutOffByTheServerFails) {
  Connect();
  const std::string content = PatternBytes(400 * 1024);
  WriteFile(mDir / "big.bin", content);
  EXPECT_FALSE(mFtp.FTPUploadFile(mDir / "big.bin", "cutoff.bin"));
  const std::string message = mFtp.GetLastErrorMessage();
  // Either the connection broke under a chunk, or the server's refusal came back.
  EXPECT_TRUE(message.starts_with("InternetWriteFile error code: 1203") ||
              message.starts_with("426 "))
      << message;
  ASSERT_FALSE(mEvents.empty());
  for (std::size_t i = 0; i < mEvents.size(); ++i) {
    EXPECT_EQ(mEvents[i], std::make_pair(static_cast<std::int64_t>(10240 * (i + 1)),
                                         static_cast<std::int64_t>(content.size())));
  }
  EXPECT_LT(ReadFile(mServer.Root() / "cutoff.bin").size(), content.size());
}

TEST_P(FtpTransferTest, MissingLocalFileOfAnUploadPassesToTheCaller) {
  Connect();
  try {
    mFtp.FTPUploadFile(mDir / "absent.bin", "absent.bin");
    FAIL() << "no error";
  } catch (const RuntimeError& error) {
    EXPECT_EQ(error.Number(), err::FileNotFound);
  }
  EXPECT_FALSE(std::filesystem::exists(mServer.Root() / "absent.bin"));
  // The one-call form reports it as its own failure instead.
  EXPECT_FALSE(mFtp.SimpleFTPPutFile(mDir / "absent.bin", "absent.bin"));
  EXPECT_EQ(mFtp.GetLastErrorMessage(), "SimpleFtpPutFile error code: 2 Message: ");
}

TEST_P(FtpTransferTest, OneCallTransfersMoveWholeFilesWithoutEvents) {
  Connect();
  const std::string content = PatternBytes(30000);
  WriteFile(mDir / "one.bin", content);
  EXPECT_TRUE(mFtp.SimpleFTPPutFile(mDir / "one.bin", "one.bin"));
  EXPECT_TRUE(mFtp.SimpleFTPGetFile(mDir / "back.bin", "one.bin"));
  EXPECT_EQ(ReadFile(mDir / "back.bin"), content);
  EXPECT_TRUE(mEvents.empty());
  EXPECT_FALSE(mFtp.SimpleFTPGetFile(mDir / "none.bin", "none.bin"));
  EXPECT_THAT(mFtp.GetLastErrorMessage(), StartsWith("550 "));
  EXPECT_FALSE(std::filesystem::exists(mDir / "none.bin"));
}

TEST_P(FtpTransferTest, TextModeConvertsLineEndsBothWays) {
  Connect();
  WriteFile(mServer.Root() / "t.txt", "a\r\nb\r\n");
  mFtp.SetTransferASCII();
  // Text mode delivers local line ends: the count of the last event is what arrived.
  ASSERT_TRUE(mFtp.FTPDownloadFile(mDir / "t.txt", "t.txt")) << mFtp.GetLastErrorMessage();
  EXPECT_EQ(ReadFile(mDir / "t.txt"), "a\nb\n");
  EXPECT_EQ(mEvents.back(), std::make_pair(std::int64_t{4}, std::int64_t{4}));
  mFtp.SetTransferBinary();
  EXPECT_TRUE(mFtp.FTPDownloadFile(mDir / "t.txt", "t.txt"));
  EXPECT_EQ(ReadFile(mDir / "t.txt"), "a\r\nb\r\n");
}

TEST_P(FtpTransferTest, ServerRefusingActiveModeServesPassiveOnly) {
  FtpServerOptions options;
  options.ActiveMode = false;
  FtpServer server(mDir / "pasv", options);
  WriteFile(server.Root() / "a.bin", "abc");
  ASSERT_TRUE(
      mFtp.OpenConnection("127.0.0.1", server.User(), server.Password(), server.PortText()));
  // The server's reply, and what to do about it.
  EXPECT_FALSE(mFtp.FTPDownloadFile(mDir / "a.bin", "a.bin"));
  EXPECT_THAT(mFtp.GetLastErrorMessage(), StartsWith("500 "));
  EXPECT_THAT(mFtp.GetLastErrorMessage(), HasSubstr("refused active mode"));
  EXPECT_THAT(mFtp.GetLastErrorMessage(), HasSubstr("Passive=1"));
  EXPECT_FALSE(std::filesystem::exists(mDir / "a.bin"));
  mFtp.SetModePassive();  // for the next connection
  ASSERT_TRUE(
      mFtp.OpenConnection("127.0.0.1", server.User(), server.Password(), server.PortText()));
  EXPECT_TRUE(mFtp.FTPDownloadFile(mDir / "a.bin", "a.bin"));
  EXPECT_EQ(ReadFile(mDir / "a.bin"), "abc");
}

// Connection failures, each with its exact message.
class FtpConnectionTest : public ::testing::Test {
 protected:
  TempDir mDir;
};

TEST_F(FtpConnectionTest, WrongPasswordFailsAtConnectWithTheMessageForm) {
  FtpServer server(mDir / "srv");
  FTP ftp;
  EXPECT_FALSE(ftp.OpenConnection("127.0.0.1", server.User(), "wrong", server.PortText()));
  EXPECT_EQ(ftp.GetLastErrorMessage(),
            "InternetConnect error code: 12014 Message: The server did not accept the user name "
            "or password.");
}

TEST_F(FtpConnectionTest, UnreachablePortAndUnknownHostFailAtConnect) {
  int freePort = 0;
  {
    FtpServer server(mDir / "srv");
    freePort = server.Port();
  }  // stopped: nothing listens there now
  FTP ftp;
  EXPECT_FALSE(ftp.OpenConnection("127.0.0.1", "u", "p", std::to_string(freePort)));
  EXPECT_EQ(ftp.GetLastErrorMessage(),
            "InternetConnect error code: 12029 Message: A connection with the server could not "
            "be established.");
  EXPECT_FALSE(ftp.OpenConnection("no-such-host.invalid", "u", "p", "21"));
  EXPECT_THAT(ftp.GetLastErrorMessage(), StartsWith("InternetConnect error code: 12007 Message: "));
  // Nothing works on a connection that failed.
  EXPECT_EQ(ftp.GetFTPDirectory(), "");
  EXPECT_EQ(ftp.GetLastErrorMessage(), "FtpGetCurrentDirectory error code: 6 Message: ");
  EXPECT_EQ(ftp.GetFTPFileSize("x"), -2);
  EXPECT_THAT(ftp.GetLastErrorMessage(), StartsWith("FtpFindFirstFile error code: 6"));
}

TEST_F(FtpConnectionTest, PortTextsThatAreNoPortNumberPassToTheCaller) {
  struct Case {
    const char* port;
    int number;
  };
  for (const Case& c : {Case{"0", 6}, Case{"70000", 6}, Case{"abc", 13}, Case{"21x", 13}}) {
    SCOPED_TRACE(c.port);
    FTP ftp;
    try {
      ftp.OpenConnection("127.0.0.1", "u", "p", c.port);
      ADD_FAILURE() << "no error";
    } catch (const RuntimeError& error) {
      EXPECT_EQ(error.Number(), c.number);
    }
    EXPECT_EQ(ftp.GetLastErrorMessage(), "");
  }
}

TEST_F(FtpConnectionTest, ReconnectingAndPortWithBlanksWork) {
  FtpServer server(mDir / "srv");
  ASSERT_GT(server.Port(), 32767);  // the upper half of the port range works too
  WriteFile(server.Root() / "a.txt", "abc");
  FTP ftp;
  ASSERT_TRUE(ftp.OpenConnection("127.0.0.1", server.User(), server.Password(),
                                 " " + server.PortText() + " "));
  ASSERT_TRUE(ftp.OpenConnection("127.0.0.1", server.User(), server.Password(), server.PortText()));
  EXPECT_EQ(ftp.GetFTPFileSize("a.txt"), 3);
  ftp.CloseConnection();
  EXPECT_EQ(ftp.GetFTPFileSize("a.txt"), -2);
}

}  // namespace
}  // namespace tandor
