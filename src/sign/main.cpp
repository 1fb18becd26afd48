// tandor-sign: the publisher's side of signed manifests and checked files.
//   tandor-sign keygen SECRET PUBLIC   a new key pair, one base64 line each (SECRET mode 0600)
//   tandor-sign sign SECRET FILE       writes FILE.sig
//   tandor-sign verify PUBLIC FILE     exit 0 when FILE.sig is FILE signed with that key, else 1
//   tandor-sign hash FILE...           one SHA256= line per file, for the manifest
// Exit status 64 for a wrong command line, 2 when a file cannot be read or written.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileIo.h"
#include "util/Integrity.h"

namespace {

constexpr int kUsage = 64;
constexpr int kFileFailure = 2;

int Usage() {
  std::fputs(
      "usage: tandor-sign keygen SECRET PUBLIC\n"
      "       tandor-sign sign SECRET FILE\n"
      "       tandor-sign verify PUBLIC FILE\n"
      "       tandor-sign hash FILE...\n",
      stderr);
  return kUsage;
}

int FileFailure(const std::string& file, const char* what) {
  std::fprintf(stderr, "tandor-sign: %s: %s\n", file.c_str(), what);
  return kFileFailure;
}

// Writes one line to a file that only its owner may read, whatever was there before.
bool WritePrivate(const std::string& file, const std::string& text) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0600) == 0 &&
            ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return ::close(fd) == 0 && ok;
}

int Keygen(const std::string& secretFile, const std::string& publicFile) {
  const tandor::KeyPair pair = tandor::GenerateKeyPair();
  if (!WritePrivate(secretFile, pair.Secret + "\n")) return FileFailure(secretFile, "not written");
  if (!tandor::WriteFileAtomically(publicFile, pair.Public + "\n"))
    return FileFailure(publicFile, "not written");
  std::printf("%s\n", pair.Public.c_str());
  return 0;
}

int Sign(const std::string& secretFile, const std::string& file) {
  const std::optional<std::string> secret = tandor::ReadWholeFile(secretFile);
  if (!secret) return FileFailure(secretFile, "cannot be read");
  const std::optional<std::string> message = tandor::ReadWholeFile(file);
  if (!message) return FileFailure(file, "cannot be read");
  const std::optional<std::string> signature = tandor::SignDetached(*message, *secret);
  if (!signature) return FileFailure(secretFile, "is no secret key");
  if (!tandor::WriteFileAtomically(file + ".sig", *signature + "\n"))
    return FileFailure(file + ".sig", "not written");
  return 0;
}

int Verify(const std::string& publicFile, const std::string& file) {
  const std::optional<std::string> key = tandor::ReadWholeFile(publicFile);
  const std::optional<std::string> message = tandor::ReadWholeFile(file);
  const std::optional<std::string> signature = tandor::ReadWholeFile(file + ".sig");
  const bool valid =
      key && message && signature && tandor::VerifyDetached(*message, *signature, *key);
  std::printf("%s: %s\n", file.c_str(), valid ? "signature valid" : "signature NOT valid");
  return valid ? 0 : 1;
}

int Hash(int count, char** files) {
  int status = 0;
  for (int i = 0; i < count; ++i) {
    const std::optional<tandor::Sha256Digest> digest = tandor::Sha256OfFile(files[i]);
    if (!digest) {
      status = FileFailure(files[i], "cannot be read");
      continue;
    }
    std::printf("SHA256=%s\n", tandor::Sha256Hex(*digest).c_str());
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string_view command = argv[1];
  if (command == "hash") return Hash(argc - 2, argv + 2);
  if (argc != 4) return Usage();
  if (command == "keygen") return Keygen(argv[2], argv[3]);
  if (command == "sign") return Sign(argv[2], argv[3]);
  if (command == "verify") return Verify(argv[2], argv[3]);
  return Usage();
}
