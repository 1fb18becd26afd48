#pragma once
// A real FTP server (pyftpdlib) on 127.0.0.1 for one test, active and passive mode (or passive
// mode only).
//
//   tandor::test::FtpServer server(dir.Path() / "srv");   // user "tandor", password "secret"
//   ftp.OpenConnection("127.0.0.1", server.User(), server.Password(), server.PortText());
//
// The user may read, write, rename, delete and create folders below `root`. An upload to a name
// starting with "cutoff" is broken off by the server after 16 KiB. The server stops when the
// object goes away.

#include <filesystem>
#include <string>

#include "support/ServerProcess.h"

namespace tandor::test {

struct FtpServerOptions {
  std::string User = "tandor";
  std::string Password = "secret";
  bool MachineListings = true;  // false: the server offers LIST only, no MLSD
  bool ActiveMode = true;       // false: the server refuses PORT and EPRT
};

class FtpServer {
 public:
  explicit FtpServer(const std::filesystem::path& root, FtpServerOptions options = {});

  int Port() const { return mProcess.Port(); }
  std::string PortText() const { return std::to_string(Port()); }
  const std::string& User() const { return mOptions.User; }
  const std::string& Password() const { return mOptions.Password; }
  const std::filesystem::path& Root() const { return mRoot; }

 private:
  static std::vector<std::string> Command(const std::filesystem::path& root,
                                          const FtpServerOptions& options);

  FtpServerOptions mOptions;
  std::filesystem::path mRoot;
  ServerProcess mProcess;
};

}  // namespace tandor::test
