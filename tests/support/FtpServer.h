#pragma once
// The FTP server of servers.py on 127.0.0.1: user "tandor", password "secret", every right in root.

#include <filesystem>
#include <string>

#include "support/ServerProcess.h"

namespace tandor::test {

struct FtpServerOptions {
  bool MachineListings = true;  // false: LIST only, no MLSD
  bool ActiveMode = true;       // false: PORT and EPRT refused
  std::string Fault = "none";   // how the files named FaultyFile are sent (see servers.py)
  std::string FaultyFile{};
  int MostConnections = 0;  // of one client at once; 0: any number
};

class FtpServer : public ServerProcess {
 public:
  explicit FtpServer(const std::filesystem::path& root, const FtpServerOptions& o = {})
      : ServerProcess(Command(root, o)), mRoot(root) {}

  std::string User() const { return "tandor"; }
  std::string Password() const { return "secret"; }
  const std::filesystem::path& Root() const { return mRoot; }

 private:
  static std::vector<std::string> Command(const std::filesystem::path& root,
                                          const FtpServerOptions& o) {
    std::vector<std::string> argv =
        ServerCommand("ftp", {"--root", root.string(), "--fault", o.Fault, "--path", o.FaultyFile,
                              "--max-per-ip", std::to_string(o.MostConnections)});
    if (!o.MachineListings) argv.push_back("--no-mlsd");
    if (!o.ActiveMode) argv.push_back("--no-active");
    return argv;
  }

  std::filesystem::path mRoot;
};

}  // namespace tandor::test
