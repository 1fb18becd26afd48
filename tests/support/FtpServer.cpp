#include "support/FtpServer.h"

namespace tandor::test {

std::vector<std::string> FtpServer::Command(const std::filesystem::path& root,
                                            const FtpServerOptions& options) {
  std::filesystem::create_directories(root);
  std::vector<std::string> argv = {
      SystemPython(), std::string(TANDOR_SOURCE_DIR) + "/tests/support/ftp_fixture.py",
      "--root",       root.string(),
      "--user",       options.User,
      "--password",   options.Password};
  if (!options.MachineListings) argv.push_back("--no-mlsd");
  if (!options.ActiveMode) argv.push_back("--no-active");
  return argv;
}

FtpServer::FtpServer(const std::filesystem::path& root, FtpServerOptions options)
    : mOptions(std::move(options)), mRoot(root), mProcess(Command(root, mOptions)) {}

}  // namespace tandor::test
