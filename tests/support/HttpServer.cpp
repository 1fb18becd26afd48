#include "support/HttpServer.h"

#include "support/TempDir.h"

namespace tandor::test {

namespace {

std::string FaultName(const HttpRule& rule) {
  switch (rule.Fault) {
    case HttpFault::Status404:
      return "404";
    case HttpFault::Status500:
      return "500";
    case HttpFault::NoLength:
      return "nolength";
    case HttpFault::Chunked:
      return "chunked";
    case HttpFault::Trickle:
      return "trickle";
    case HttpFault::CloseEarly:
      return "closeearly";
    case HttpFault::Stall:
      return "stall";
    case HttpFault::Extra:
      return "extra";
    case HttpFault::Redirect:
      return "redirect:" + rule.Target;
  }
  return "";
}

}  // namespace

std::vector<std::string> HttpServer::Command(const std::filesystem::path& root,
                                             const std::filesystem::path& log,
                                             const std::vector<HttpRule>& rules) {
  std::filesystem::create_directories(root);
  std::vector<std::string> argv = {
      SystemPython(), std::string(TANDOR_SOURCE_DIR) + "/tests/support/http_fixture.py",
      "--root",       root.string(),
      "--log",        log.string()};
  for (const HttpRule& rule : rules) {
    argv.push_back("--rule");
    argv.push_back(rule.Path + "=" + FaultName(rule));
  }
  return argv;
}

// The log lies beside the served folder, so that it is never served itself.
HttpServer::HttpServer(const std::filesystem::path& root, const std::vector<HttpRule>& rules)
    : mLog(root.parent_path() / (root.filename().string() + ".requests.log")),
      mProcess(Command(root, mLog, rules)) {}

std::string HttpServer::RequestLog() const {
  return ReadFile(mLog);
}

}  // namespace tandor::test
