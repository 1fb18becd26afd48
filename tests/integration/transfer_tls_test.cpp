// HTTPS (nginx) and FTPS with explicit TLS (pyftpdlib) on 127.0.0.1, with certificates of a
// test authority made for the run: only a certificate that checks out carries a transfer.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
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
using ::testing::HasSubstr;

const std::string kScript = std::string(TANDOR_SOURCE_DIR) + "/tests/support/tls_fixture.py";

TEST(TransferTlsTest, OnlyVerifiedCertificatesCarryATransfer) {
  TempDir dir;
  fs::create_directories(dir / "srv");
  WriteFile(dir / "srv" / "a.txt", "secure\n");
  ASSERT_EQ(RunProgram(std::string("/usr/bin/python3"), {kScript, "certs", dir.Path().string()}, {}).Status, 0);
  const std::string ca = (dir / "ca.pem").string();

  struct Case {
    const char* Name;
    bool Ftps;
    const char* Certificate;
    std::string CaFile;
    const char* Host;
    const char* Reason;  // empty: the file arrives
  };
  const Case cases[] = {
      {"HTTPS, private authority in CAFile", false, "good", ca, "127.0.0.1", ""},
      {"HTTPS by host name", false, "good", ca, "localhost", ""},
      {"man in the middle: authority unknown to the system", false, "good", "", "127.0.0.1",
       "unable to get local issuer certificate"},
      {"man in the middle: another host's certificate", false, "wronghost", ca, "127.0.0.1",
       "subject name matches target host name"},
      {"man in the middle: expired certificate", false, "expired", ca, "127.0.0.1",
       "certificate has expired"},
      {"man in the middle: unknown authority", false, "stranger", ca, "127.0.0.1",
       "unable to get local issuer certificate"},
      {"FTPS, private authority in CAFile", true, "good", ca, "127.0.0.1", ""},
      {"FTPS man in the middle: authority unknown to the system", true, "good", "", "127.0.0.1",
       "unable to get local issuer certificate"},
      {"FTPS man in the middle: another host's certificate", true, "wronghost", ca, "127.0.0.1",
       "subject name matches target host name"},
      {"FTPS man in the middle: expired certificate", true, "expired", ca, "127.0.0.1",
       "certificate has expired"},
      {"FTPS man in the middle: unknown authority", true, "stranger", ca, "127.0.0.1",
       "unable to get local issuer certificate"},
  };
  std::map<std::string, std::unique_ptr<ServerProcess>> servers;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string kind = c.Ftps ? "ftps" : "https";
    auto& server = servers[kind + c.Certificate];
    if (!server)
      server = std::make_unique<ServerProcess>(
          std::vector<std::string>{std::string("/usr/bin/python3"), kScript, kind, dir.Path().string(),
                                   c.Certificate, (dir / "srv").string()});
    FtpOptions options;
    options.Tls = true;
    options.CaFile = c.CaFile;
    FTP client({}, options);
    if (!c.Ftps) client.Service(FTP::ServiceHttp);
    client.SetModePassive();
    const fs::path local = dir / "a.txt";
    fs::remove(local);
    const bool ok =
        client.OpenConnection(c.Host, "tandor", "secret", std::to_string(server->Port())) &&
        (c.Ftps ? client.FTPDownloadFile(local, "a.txt")
                : client.HTTPDownloadFile(local, "/a.txt"));
    client.CloseConnection();
    if (std::string(c.Reason).empty()) {
      EXPECT_TRUE(ok) << client.GetLastErrorMessage();
      EXPECT_EQ(ReadFile(local), "secure\n");
    } else {
      EXPECT_FALSE(ok);
      EXPECT_FALSE(fs::exists(local));
      EXPECT_THAT(client.GetLastErrorMessage(), HasSubstr(c.Reason));
    }
  }
}

}  // namespace
}  // namespace tandor::test
