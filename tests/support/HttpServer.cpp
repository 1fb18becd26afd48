#include "support/HttpServer.h"

#include "support/TempDir.h"

namespace tandor::test {

// The behaviour's name in servers.py, in the order of HttpFault.
std::vector<std::string> HttpServer::Command(const std::filesystem::path& root,
                                             const std::vector<HttpRule>& rules) {
  static const char* const kNames[] = {"404",   "500",     "nolength", "chunked",  "closeearly",
                                       "stall", "trickle", "extra",    "redirect:"};
  std::filesystem::create_directories(root);
  std::vector<std::string> argv = ServerCommand("http");
  argv.insert(argv.end(), {"--root", root.string(), "--log", LogOf(root).string()});
  for (const HttpRule& rule : rules) {
    argv.push_back("--rule");
    argv.push_back(rule.Path + "=" + kNames[static_cast<int>(rule.Fault)] + rule.Target);
  }
  return argv;
}

std::string HttpServer::RequestLog() const {
  return ReadFile(mLog);
}

}  // namespace tandor::test
