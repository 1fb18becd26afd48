#pragma once
// The HTTP/1.1 server of servers.py on 127.0.0.1 serving `root`: `redirects` answer 302, and the
// `faulty` paths come with `fault` (see servers.py; "short": half the file, then closed); with
// `mostConnections`, connections over that many at once are held open and never answered.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace tandor::test {

class HttpServer : public ServerProcess {
 public:
  using Redirects = std::vector<std::pair<std::string, std::string>>;
  explicit HttpServer(const std::filesystem::path& root, const Redirects& redirects = {},
                      const std::vector<std::string>& faulty = {}, std::string fault = "short",
                      int mostConnections = 0)
      : ServerProcess(Command(root, redirects, faulty, fault, mostConnections)), mRoot(root) {}

  // Every request line with its headers.
  std::string RequestLog() const { return ReadFile(mRoot.string() + ".log"); }

 private:
  static std::vector<std::string> Command(const std::filesystem::path& root,
                                          const Redirects& redirects,
                                          const std::vector<std::string>& faulty,
                                          const std::string& fault, int mostConnections) {
    std::vector<std::string> argv =
        ServerCommand("http", {"--root", root.string(), "--fault", fault, "--max-per-ip",
                               std::to_string(mostConnections)});
    for (const auto& [from, to] : redirects)
      argv.insert(argv.end(), {"--redirect", from + "=" + to});
    for (const std::string& path : faulty) argv.insert(argv.end(), {"--path", path});
    return argv;
  }

  std::filesystem::path mRoot;
};

}  // namespace tandor::test
