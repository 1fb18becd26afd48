#pragma once
// An HTTP/1.1 server (Python http.server, keep-alive) on 127.0.0.1 for one test, serving the
// files of a folder; `redirects` answer 302 from a path to another:
//
//   tandor::test::HttpServer server(dir.Path() / "www", {{"/old", "/new"}});
//
// Requests (request line and headers) are logged beside the folder; RequestLog() returns them.
// Servers that misbehave on purpose are in fault_proxy.py.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/ServerProcess.h"

namespace tandor::test {

class HttpServer : public ServerProcess {
 public:
  using Redirects = std::vector<std::pair<std::string, std::string>>;
  // `dropsAtHalf`: paths whose replies announce the whole file, send half and close.
  explicit HttpServer(const std::filesystem::path& root, const Redirects& redirects = {},
                      const std::vector<std::string>& dropsAtHalf = {})
      : ServerProcess(Command(root, redirects, dropsAtHalf)), mLog(LogOf(root)) {}

  std::string RequestLog() const;

 private:
  static std::filesystem::path LogOf(const std::filesystem::path& root) {
    return root.parent_path() / (root.filename().string() + ".requests.log");
  }
  static std::vector<std::string> Command(const std::filesystem::path& root,
                                          const Redirects& redirects,
                                          const std::vector<std::string>& dropsAtHalf);

  std::filesystem::path mLog;
};

}  // namespace tandor::test
