#pragma once
// A real FTP server (pyftpdlib) on 127.0.0.1 for one test, active and passive mode (or passive
// mode only).
//
//   tandor::test::FtpServer server(dir.Path() / "srv");   // user "tandor", password "secret"
//   ftp.OpenConnection("127.0.0.1", server.User(), server.Password(), server.PortText());
//
// The user may read, write, rename, delete and create folders below `root`. An upload to a name
// starting with "cutoff" is broken off by the server after 16 KiB.

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

class FtpServer : public ServerProcess {
 public:
  explicit FtpServer(const std::filesystem::path& root, FtpServerOptions options = {})
      : ServerProcess(Command(root, options)), mOptions(std::move(options)), mRoot(root) {}

  const std::string& User() const { return mOptions.User; }
  const std::string& Password() const { return mOptions.Password; }
  const std::filesystem::path& Root() const { return mRoot; }

 private:
  static std::vector<std::string> Command(const std::filesystem::path& root,
                                          const FtpServerOptions& options) {
    std::filesystem::create_directories(root);
    std::vector<std::string> argv = ServerCommand("ftp");
    argv.insert(argv.end(),
                {"--root", root.string(), "--user", options.User, "--password", options.Password});
    if (!options.MachineListings) argv.push_back("--no-mlsd");
    if (!options.ActiveMode) argv.push_back("--no-active");
    return argv;
  }

  FtpServerOptions mOptions;
  std::filesystem::path mRoot;
};

}  // namespace tandor::test
