// HTTPS (nginx) and FTPS with explicit TLS (pyftpdlib) on 127.0.0.1, with certificates of a
// test authority made for the run: only a certificate that checks out carries a transfer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "support/ProgramRun.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"
#include "transfer/FTP.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;

TEST(TransferTlsTest, OnlyVerifiedCertificatesCarryATransfer) {
  TempDir dir;
  WriteFile(dir / "srv" / "a.txt", "secure\n");
  std::vector<std::string> certs = ServerCommand("certs");
  certs.insert(certs.end(), {"--root", dir.Path().string()});
  ASSERT_EQ(RunProgram(certs[0], {certs.begin() + 1, certs.end()}, {}).Status, 0);

  struct Row {
    bool Ftps;
    const char* Certificate;
    bool CaFile;
    const char* Host;
    const char* Reason;  // empty: the file arrives
  };
  const Row rows[] = {
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
  std::map<std::string, std::unique_ptr<ServerProcess>> servers;
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.Ftps ? "FTPS " : "HTTPS ") + r.Certificate + " " + r.Host);
    std::vector<std::string> argv = ServerCommand(r.Ftps ? "ftp" : "nginx");
    argv.insert(argv.end(),
                {"--root", (dir / "srv").string(), "--cert", (dir / r.Certificate).string()});
    auto& server = servers[argv[2] + r.Certificate];
    if (!server) server = std::make_unique<ServerProcess>(argv);
    FtpOptions options;
    options.Tls = true;
    options.CaFile = r.CaFile ? (dir / "ca.pem").string() : "";
    FTP client({}, options);
    if (!r.Ftps) client.Service(FTP::ServiceHttp);
    client.SetModePassive();
    fs::remove(dir / "a.txt");
    const bool ok = client.OpenConnection(r.Host, "tandor", "secret", server->PortText()) &&
                    (r.Ftps ? client.FTPDownloadFile(dir / "a.txt", "a.txt")
                            : client.HTTPDownloadFile(dir / "a.txt", "/a.txt"));
    EXPECT_EQ(ok, *r.Reason == '\0') << client.GetLastErrorMessage();
    EXPECT_EQ(fs::exists(dir / "a.txt"), ok);
    EXPECT_EQ(ReadFile(dir / "a.txt"), ok ? "secure\n" : "");
    EXPECT_THAT(client.GetLastErrorMessage(), ::testing::HasSubstr(r.Reason));
  }
}

}  // namespace
}  // namespace tandor::test
