#pragma once
// An HTTP/1.1 server (Python http.server, keep-alive) on 127.0.0.1 for one test, serving the
// files of a folder, and misbehaving on purpose on chosen paths:
//
//   tandor::test::HttpServer server(dir.Path() / "www", {{"/gone.bin", HttpFault::Status404},
//                                                       {"/old", HttpFault::Redirect, "/new"}});
//   ftp.OpenConnection("127.0.0.1", "", "", server.PortText());
//
// Requests (request line and headers) are logged; RequestLog() returns them. The server stops
// when the object goes away.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/ServerProcess.h"

namespace tandor::test {

enum class HttpFault {
  Status404,
  Status500,
  NoLength,    // no Content-Length; the connection closes after the file
  Chunked,     // chunked transfer encoding
  CloseEarly,  // announces the whole file, sends half, closes
  Stall,       // announces the whole file, sends half, is silent for 5 s, sends the rest
  Trickle,     // announces the whole file, sends one byte every 100 ms
  Extra,       // announces the file's size, sends 100 bytes more
  Redirect,    // 302 to `Target`
};

struct HttpRule {
  HttpRule(std::string path, HttpFault fault, std::string target = {})
      : Path(std::move(path)), Fault(fault), Target(std::move(target)) {}

  std::string Path;  // as requested, e.g. "/dir/file.bin"
  HttpFault Fault;
  std::string Target;  // Redirect only
};

class HttpServer {
 public:
  explicit HttpServer(const std::filesystem::path& root, const std::vector<HttpRule>& rules = {});

  int Port() const { return mProcess.Port(); }
  std::string PortText() const { return std::to_string(Port()); }
  std::string RequestLog() const;

 private:
  static std::vector<std::string> Command(const std::filesystem::path& root,
                                          const std::filesystem::path& log,
                                          const std::vector<HttpRule>& rules);

  std::filesystem::path mLog;
  ServerProcess mProcess;
};

}  // namespace tandor::test
