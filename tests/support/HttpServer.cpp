#include "support/HttpServer.h"

#include "support/TempDir.h"

namespace tandor::test {

std::vector<std::string> HttpServer::Command(const std::filesystem::path& root,
                                             const Redirects& redirects) {
  std::filesystem::create_directories(root);
  std::vector<std::string> argv = ServerCommand("http");
  argv.insert(argv.end(), {"--root", root.string(), "--log", LogOf(root).string()});
  for (const auto& [from, to] : redirects) argv.insert(argv.end(), {"--redirect", from + "=" + to});
  return argv;
}

std::string HttpServer::RequestLog() const {
  return ReadFile(mLog);
}

}  // namespace tandor::test
