// tandor-sign: the publisher's side of signed manifests and checked files.
//   tandor-sign keygen [--force] SECRET PUBLIC
//       a new key pair, one base64 line each (SECRET mode 0600). An existing SECRET or PUBLIC is
//       replaced only with --force: machines that trust the old public key accept nothing the
//       new secret key signs, so losing the old secret key locks them out for good.
//   tandor-sign sign [--product NAME] [--expires DAYS] [--next-key PUBLIC]
//                    [--revoke-key PUBLIC] SECRET... FILE
//       writes FILE.sig, one line per SECRET. A manifest whose [Files] names no product gets
//       Product=NAME first (by default the name of the folder holding FILE), and SignedBy=, the
//       public keys of the SECRETs; Signed= and Expires= with --expires, NextKey= and
//       RevokeKey= with those; the signature covers FILE as written. A SECRET that its group or
//       others may read or write is refused, as ssh refuses its keys.
//   tandor-sign verify PUBLIC FILE     exit 0 when a line of FILE.sig is FILE signed with that
//                                      key, else 1
//   tandor-sign hash FILE...           one SHA256= line per file, for the manifest
// Exit status 64 for a wrong command line (or a manifest whose product cannot be told), 2 when a
// file cannot be read or written or must not be used.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "manifest/RenumberEntries.h"
#include "manifest/SigningStamp.h"
#include "platform/FileDescriptor.h"
#include "platform/FileIo.h"
#include "text/TextCase.h"
#include "util/Integrity.h"

namespace {

namespace fs = std::filesystem;

constexpr int kUsage = 64;
constexpr int kFileFailure = 2;

int Usage() {
  std::fputs(
      "usage: tandor-sign keygen [--force] SECRET PUBLIC\n"
      "       tandor-sign sign [--product NAME] [--expires DAYS] [--next-key PUBLIC]\n"
      "                        [--revoke-key PUBLIC] SECRET... FILE\n"
      "       tandor-sign verify PUBLIC FILE\n"
      "       tandor-sign hash FILE...\n"
      "keygen never replaces an existing key file without --force. sign refuses a SECRET that\n"
      "its group or others may read (chmod 600 it), writes one signature line per SECRET, and\n"
      "writes into the [Files] section of a manifest: Product=NAME when it names no product\n"
      "(default: the name of FILE's folder), SignedBy= (the SECRETs' public keys), Signed= and\n"
      "Expires= (DAYS from now, 0 removes them), NextKey= and RevokeKey= (a key machines trust\n"
      "from then on, or no longer).\n",
      stderr);
  return kUsage;
}

int FileFailure(const std::string& file, const std::string& what) {
  std::fprintf(stderr, "tandor-sign: %s: %s\n", file.c_str(), what.c_str());
  return kFileFailure;
}

struct Arguments {
  std::vector<std::string> Operands;
  bool Force = false;                  // keygen --force
  std::optional<std::string> Product;  // sign --product NAME
  std::optional<int> ExpiresDays;      // sign --expires DAYS
  std::string NextKey;                 // sign --next-key PUBLIC
  std::string RevokeKey;               // sign --revoke-key PUBLIC
};

// The operands and the options `command` takes; nothing for any other option, or one without
// its value.
std::optional<Arguments> ParseArguments(std::string_view command, int count, char** args) {
  Arguments parsed;
  for (int i = 0; i < count; ++i) {
    const std::string_view arg = args[i];
    if (command == "keygen" && arg == "--force") {
      parsed.Force = true;
    } else if (command == "sign" && arg == "--product") {
      if (++i == count || !*args[i]) return std::nullopt;
      parsed.Product = args[i];
    } else if (command == "sign" && arg == "--expires") {
      if (++i == count || !(parsed.ExpiresDays = tandor::ParseExpiryDays(args[i])))
        return std::nullopt;
    } else if (command == "sign" && (arg == "--next-key" || arg == "--revoke-key")) {
      if (++i == count || !*args[i]) return std::nullopt;
      (arg == "--next-key" ? parsed.NextKey : parsed.RevokeKey) = args[i];
    } else if (arg.starts_with("--")) {
      return std::nullopt;
    } else {
      parsed.Operands.emplace_back(arg);
    }
  }
  return parsed;
}

// Writes one line to a file that only its owner may read. Without `replace` the file must not
// exist yet, so that no key is lost even to another keygen running at the same moment.
bool WritePrivate(const std::string& file, const std::string& text, bool replace) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL);
  tandor::FileDescriptor fd(::open(file.c_str(), flags, 0600));
  if (fd.Get() < 0) return false;
  bool ok = ::fchmod(fd.Get(), 0600) == 0 &&
            ::write(fd.Get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return fd.Close() && ok;
}

bool Exists(const std::string& file) {
  std::error_code error;
  return fs::exists(fs::symlink_status(file, error));
}

int Keygen(const std::string& secretFile, const std::string& publicFile, bool force) {
  for (const std::string& file : {secretFile, publicFile}) {
    if (!force && Exists(file))
      return FileFailure(file,
                         "exists already. A new key pair locks out every machine that trusts the "
                         "old public key; --force replaces it.");
  }
  const tandor::KeyPair pair = tandor::GenerateKeyPair();
  if (!WritePrivate(secretFile, pair.Secret + "\n", force))
    return FileFailure(secretFile, "not written");
  if (!tandor::WriteFileAtomically(publicFile, pair.Public + "\n"))
    return FileFailure(publicFile, "not written");
  std::printf("%s\n", pair.Public.c_str());
  return 0;
}

// The product a manifest file is for when it names none: `product`, else the name of the folder
// holding the file, as the manifest's folder on the server is named after its product.
std::string ProductFor(const std::string& file, const std::optional<std::string>& product) {
  if (product) return *product;
  return fs::absolute(file).lexically_normal().parent_path().filename().string();
}

int Sign(const std::vector<std::string>& secretFiles, const std::string& file,
         const Arguments& args) {
  tandor::SigningStamp stamp{.ExpiresDays = args.ExpiresDays, .Now = std::time(nullptr)};
  std::vector<std::string> secrets;
  for (const std::string& secretFile : secretFiles) {
    if (tandor::IsSecretKeyShared(secretFile))
      return FileFailure(secretFile,
                         "may be read by others (its group or everyone); a secret key must be "
                         "private: chmod 600 " +
                             secretFile);
    const std::optional<std::string> secret = tandor::ReadWholeFile(secretFile);
    if (!secret) return FileFailure(secretFile, "cannot be read");
    const std::optional<std::string> signer = tandor::PublicKeyOf(*secret);
    if (!signer) return FileFailure(secretFile, "is no secret key");
    secrets.push_back(*secret);
    stamp.Signers.push_back(*signer);
  }
  for (auto [given, key] :
       {std::pair(&args.NextKey, &stamp.NextKey), std::pair(&args.RevokeKey, &stamp.RevokeKey)}) {
    if (given->empty()) continue;
    const std::optional<std::string> read = tandor::ReadPublicKey(*given);
    if (!read) return FileFailure(*given, "is no public key");
    *key = *read;
  }
  const std::optional<std::string> original = tandor::ReadWholeFile(file);
  if (!original) return FileFailure(file, "cannot be read");
  std::string message = *original;
  const std::string named = tandor::FilesValue(message, "Product");
  if (named.empty()) {
    const std::string name = ProductFor(file, args.Product);
    if (name.empty()) {
      std::fprintf(stderr, "tandor-sign: %s: names no product; give it with --product NAME\n",
                   file.c_str());
      return kUsage;
    }
    message = tandor::NameProduct(message, name);
  } else if (args.Product && *args.Product != named) {
    std::fprintf(stderr, "tandor-sign: %s: keeps its own Product=%s\n", file.c_str(),
                 named.c_str());
  }
  message = tandor::StampSigning(message, stamp);
  // Signed before anything is written: FILE changes only once every key has signed.
  std::string signature;
  for (const std::string& secret : secrets)
    signature += *tandor::SignDetached(message, secret) + "\n";
  if (message != *original) {
    if (!tandor::WriteFileAtomically(file, message)) return FileFailure(file, "not written");
    std::printf("%s: [Files] written: Product=%s, signed by %zu key(s)%s\n", file.c_str(),
                tandor::FilesValue(message, "Product").c_str(), stamp.Signers.size(),
                tandor::FilesValue(message, "Expires").empty()
                    ? ""
                    : (", expires " + tandor::FilesValue(message, "Expires")).c_str());
  }
  if (!tandor::WriteFileAtomically(file + ".sig", signature))
    return FileFailure(file + ".sig", "not written");
  return 0;
}

int Verify(const std::string& publicFile, const std::string& file) {
  const std::optional<std::string> key = tandor::ReadWholeFile(publicFile);
  const std::optional<std::string> message = tandor::ReadWholeFile(file);
  const std::optional<std::string> signature = tandor::ReadWholeFile(file + ".sig");
  bool valid = false;
  const std::string signatures = signature.value_or("");
  for (const std::string_view line : tandor::SplitItems(signatures, '\n', " \t\r")) {
    valid = valid || (key && message && tandor::VerifyDetached(*message, line, *key));
  }
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
  const std::optional<Arguments> args = ParseArguments(command, argc - 2, argv + 2);
  if (!args || args->Operands.size() < 2) return Usage();
  const std::string& first = args->Operands[0];
  const std::string& last = args->Operands.back();
  if (command == "sign")
    return Sign({args->Operands.begin(), args->Operands.end() - 1}, last, *args);
  if (args->Operands.size() != 2) return Usage();
  const std::string& second = args->Operands[1];
  if (command == "keygen") return Keygen(first, second, args->Force);
  if (command == "verify") return Verify(first, second);
  return Usage();
}
