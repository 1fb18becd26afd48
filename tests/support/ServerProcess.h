#pragma once
// A server program started for one test, stopped (terminated, then killed if it lingers) when
// this object goes away. Its first line of output is its port.

#include <sys/types.h>

#include <string>
#include <vector>

namespace tandor::test {

class ServerProcess {
 public:
  // Starts `argv` (argv[0]: the program's path), waits for its port line and, if it `listens`,
  // up to 15 s for the port to accept on 127.0.0.1; throws std::runtime_error if not.
  explicit ServerProcess(const std::vector<std::string>& argv, bool listens = true);
  virtual ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int Port() const { return mPort; }
  std::string PortText() const { return std::to_string(mPort); }

 private:
  void Stop();

  pid_t mPid = -1;
  int mPort = 0;
};

// `servers.py <kind> <args>` (this folder) with the python interpreter that sees Debian's packages.
std::vector<std::string> ServerCommand(const std::string& kind,
                                       const std::vector<std::string>& args = {});
// The TLS fixtures' certificates in `folder` (see servers.py certs); throws if they cannot be made.
void MakeCertificates(const std::string& folder);

}  // namespace tandor::test
