#pragma once
// The forward proxy of servers.py on 127.0.0.1: absolute-URI GETs and CONNECT tunnels to
// 127.0.0.1, every request it forwarded logged.

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace tandor::test {

class ProxyServer : public ServerProcess {
 public:
  // "open": forwards everything; "auth": only with Basic credentials tandor:secret, 407 without;
  // "refuse": 403 to everything. Its log is `log` + ".log".
  ProxyServer(const std::filesystem::path& log, const std::string& mode)
      : ServerProcess(Command(log, mode)), mLog(log.string() + ".log") {}

  // The request lines it forwarded, oldest first.
  std::vector<std::string> Forwarded() const {
    std::vector<std::string> lines;
    std::istringstream log(ReadFile(mLog));
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }

 private:
  static std::vector<std::string> Command(const std::filesystem::path& log,
                                          const std::string& mode) {
    std::vector<std::string> argv = ServerCommand("proxy", {"--root", log.string()});
    if (mode == "auth") argv.insert(argv.end(), {"--user", "tandor:secret"});
    if (mode == "refuse") argv.push_back("--refuse");
    return argv;
  }

  std::filesystem::path mLog;
};

}  // namespace tandor::test
