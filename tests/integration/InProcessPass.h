#pragma once
// The fixture of the update pass run inside the test process against real servers on 127.0.0.1,
// with a window that records every call. Replacing the program throws, so that the test sees
// where the pass stopped and what it left on disk.

#include <gmock/gmock.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "delta/Delta.h"
#include "support/FtpServer.h"
#include "support/HttpServer.h"
#include "support/PassHarness.h"
#include "support/ProgramRun.h"
#include "support/ProxyServer.h"
#include "support/ServerProcess.h"
#include "support/ZipTools.h"
#include "ui/Messages.h"
#include "unzip/ZipExtraction.h"
#include "util/Integrity.h"

namespace tandor::test {

namespace fs = std::filesystem;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;

// Thrown by ReplaceProgram, for the test to see where the pass stopped.
struct ProgramReplaced {
  std::string CommandLine;
};

class UpdatePassInProcessTest : public ::testing::Test, protected SampleMachine {
 protected:
  UpdatePassInProcessTest() {
    fs::create_directories(mApp);
    mEnv.ReplaceProgram = [](const std::string& line) { throw ProgramReplaced{line}; };
  }

  void PublishFiles(const std::string& entries, const std::string& header = "") {
    Publish("Tandor10.ini", "[Files]\r\n" + header + entries);
  }
  // A fresh server on the server folder: "FTP", "HTTP", "HTTP-drop" (its replies for data.bin
  // stop at half), "nginx" (a real web server, with Range; "nginx-2": 503 to a client's
  // requests beyond two at once), "HTTPS" (nginx with a certificate
  // of an authority made for the test, which the settings name), or vsftpd, anonymous:
  // "vsftpd-passive" (PORT refused, the client passive), "vsftpd-active" (PASV refused) and
  // "vsftpd-2" (two connections of a client at once, 421 to the others).
  void Serve(const std::string& kind) {
    mFtp.reset();
    mHttp.reset();
    mNginx.reset();
    const bool vsftpd = kind.starts_with("vsftpd");
    mSettings.User = vsftpd ? "anonymous" : "tandor";
    mSettings.Passive = kind == "vsftpd-passive";
    if (vsftpd) {
      std::vector<std::string> argv = ServerCommand("vsftpd", {"--root", mServer});
      if (kind == "vsftpd-passive") argv.push_back("--no-active");
      if (kind == "vsftpd-active") argv.push_back("--no-passive");
      if (kind == "vsftpd-2") argv.insert(argv.end(), {"--max-per-ip", "2"});
      mNginx.emplace(argv);
      mSettings.SetMethod("FTP");
      mSettings.SetPort(mNginx->PortText());
      return;
    }
    if (kind == "FTP") mFtp.emplace(mServer);
    if (kind == "FTP-2") mFtp.emplace(mServer, FtpServerOptions{.MostConnections = 2});
    if (kind == "FTP-stall")
      mFtp.emplace(mServer, FtpServerOptions{.Fault = "stall", .FaultyFile = "b5.txt"});
    if (kind == "FTP-noquit") mFtp.emplace(mServer, FtpServerOptions{.Fault = "noquit"});
    if (kind == "HTTP" || kind == "HTTP-noroom") mHttp.emplace(mServer);
    if (kind == "HTTP-2")
      mHttp.emplace(mServer, HttpServer::Redirects{}, std::vector<std::string>{}, "short", 2);
    if (kind == "HTTP-drop")
      mHttp.emplace(mServer, HttpServer::Redirects{},
                    std::vector<std::string>{"/Harrowin/Sample/data.bin"});
    std::vector<std::string> nginx = ServerCommand("nginx", {"--root", mServer});
    if (kind == "HTTPS") {
      if (!fs::exists(mDir / "certs" / "ca.pem")) MakeCertificates(mDir / "certs");
      nginx.insert(nginx.end(), {"--cert", (mDir / "certs" / "good").string()});
      mSettings.CaFile = (mDir / "certs" / "ca.pem").string();
    }
    if (kind == "nginx-2") nginx.insert(nginx.end(), {"--max-per-ip", "2"});
    if (kind == "nginx" || kind == "nginx-2" || kind == "HTTPS") mNginx.emplace(nginx);
    mSettings.SetMethod(mFtp ? "FTP" : kind == "HTTPS" ? "HTTPS" : "HTTP");
    mSettings.SetPort(mFtp ? mFtp->PortText() : mHttp ? mHttp->PortText() : mNginx->PortText());
  }

  // Runs a whole pass; the status it ended with, nothing when the window waits for EXIT or the
  // pass replaced itself (mReplacedBy then holds the command line).
  std::optional<int> RunPass() {
    mWindow.Clear();
    mPass = std::make_unique<UpdatePass>(mEnv);
    try {
      const PassOutcome outcome = mPass->Sync();
      mStatus = outcome.Status;
      if (!outcome.WaitForExit) return outcome.Status;
    } catch (const ProgramReplaced& replaced) {
      mReplacedBy = replaced.CommandLine;
    }
    return std::nullopt;
  }

  std::string Record() const { return ReadFile(mLocal / "Version.ini"); }
  std::vector<std::string> LocalFiles() const {
    std::vector<std::string> names;
    for (const auto& file : fs::directory_iterator(mLocal)) names.push_back(file.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Whether this process still holds the log open.
  bool LogHeldOpen() const {
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (fs::read_symlink(fd.path(), ec) == mApp / "Err.log") return true;
    }
    return false;
  }
  // A refused pass: its one message box, also the log's one line.
  void ExpectRefusal(const std::string& text) {
    ASSERT_EQ(mWindow.Messages.size(), 1u);
    EXPECT_EQ(mWindow.Messages[0], text);
    EXPECT_EQ(Log(), "Error:" + text + "\r\n");
  }

  PassEnvironment mEnv = SampleEnvironment(mMachine, mIni, mSettings, mWindow);
  std::optional<FtpServer> mFtp;
  std::optional<HttpServer> mHttp;
  std::optional<ServerProcess> mNginx;  // or vsftpd
  std::unique_ptr<UpdatePass> mPass;
  std::optional<std::string> mReplacedBy;
  int mStatus = -1;  // of the last pass that came back, also of one that waits for EXIT
};

}  // namespace tandor::test
