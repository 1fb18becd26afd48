#include "support/HttpServer.h"

#include "support/TempDir.h"

namespace tandor::test {

std::vector<std::string> HttpServer::Command(const std::filesystem::path& root,
                                             const Redirects& redirects,
                                             const std::vector<std::string>& dropsAtHalf) {
  std::filesystem::create_directories(root);
  std::vector<std::string> argv = ServerCommand("http");
  argv.insert(argv.end(), {"--root", root.string(), "--log", LogOf(root).string()});
  for (const auto& [from, to] : redirects) argv.insert(argv.end(), {"--redirect", from + "=" + to});
  for (const std::string& path : dropsAtHalf) argv.insert(argv.end(), {"--drop-at-half", path});
  return argv;
}

std::string HttpServer::RequestLog() const {
  return ReadFile(mLog);
}

}  // namespace tandor::test
