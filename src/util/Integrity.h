#pragma once
// SHA-256 of downloads (OpenSSL's, which uses the processor's SHA instructions and so keeps up
// with a fast download) and Ed25519 signatures of manifests (libsodium), with the one-line
// base64 form in which keys and signatures are kept.

#include <array>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sodium.h>

struct evp_md_ctx_st;

namespace tandor {

using Sha256Digest = std::array<unsigned char, crypto_hash_sha256_BYTES>;

// 64 hex digits (either case) into a digest; nothing for any other text.
std::optional<Sha256Digest> ParseSha256(std::string_view hex);
std::string Sha256Hex(const Sha256Digest& digest);

// A digest built up piece by piece, as the bytes of a download arrive.
class Sha256Stream {
 public:
  Sha256Stream();
  void Update(const void* data, std::size_t size);
  Sha256Digest Final();

 private:
  struct Free {
    void operator()(evp_md_ctx_st* context) const;
  };
  std::unique_ptr<evp_md_ctx_st, Free> mContext;
};

// A digest built on a thread of its own, so that hashing a download does not slow receiving it:
// blocks are handed over whole and hashed in order while the caller fills the next. At most a
// few blocks wait; Push waits when more would.
class Sha256Pipe {
 public:
  Sha256Pipe();
  ~Sha256Pipe();
  Sha256Pipe(const Sha256Pipe&) = delete;
  Sha256Pipe& operator=(const Sha256Pipe&) = delete;

  // Takes `block` and gives back an empty block to fill next (one hashed before, when there is
  // one, so that its memory serves again).
  std::vector<char> Push(std::vector<char> block);
  // The digest of every block pushed, followed by `last` (hashed here: a small download never
  // starts the thread).
  Sha256Digest Final(std::string_view last = {});

 private:
  struct Shared;
  void Stop();

  std::unique_ptr<Shared> mShared;
  std::thread mThread;
};

// The digest of a whole file; nothing when it cannot be read.
std::optional<Sha256Digest> Sha256OfFile(const std::filesystem::path& file);

// Standard base64 with padding; decoding ignores surrounding blanks and line ends, and gives
// nothing for anything that is no base64 or not exactly `size` bytes long.
std::string ToBase64(std::string_view bytes);
std::optional<std::string> FromBase64(std::string_view text, std::size_t size);

struct KeyPair {
  std::string Secret;  // base64 of the 64-byte secret key
  std::string Public;  // base64 of the 32-byte public key
};
KeyPair GenerateKeyPair();
// The public key (base64) of a secret key (base64); nothing when it is no secret key.
std::optional<std::string> PublicKeyOf(std::string_view secretKey);

// `text` as a public key is written (base64 without blanks); nothing when it is none.
std::optional<std::string> PublicKeyText(std::string_view text);
// A public key as tandor-sign keygen writes it, from its file or given as it is; nothing when
// neither the file nor the text is one.
std::optional<std::string> ReadPublicKey(const std::string& fileOrKey);

// True when the secret key file (a link followed) grants its group or others any access: such a
// key is refused, as ssh refuses its own keys then. False for a file that cannot be examined;
// reading it fails then.
bool IsSecretKeyShared(const std::filesystem::path& file);

// The base64 signature of `message`; nothing when `secretKey` is no secret key.
std::optional<std::string> SignDetached(std::string_view message, std::string_view secretKey);
// True only when `signature` (base64) is a valid signature of `message` by `publicKey` (base64).
bool VerifyDetached(std::string_view message, std::string_view signature,
                    std::string_view publicKey);

}  // namespace tandor
