#include "util/Integrity.h"

#include <openssl/evp.h>

#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>
#include <vector>

#include "text/TextCase.h"

namespace tandor {

namespace {

// libsodium's functions are ready once this ran; calling it again costs nothing.
void InitSodium() {
  if (sodium_init() < 0) std::abort();
}

constexpr std::string_view kBlanks = " \t\r\n";

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

std::optional<Sha256Digest> ParseSha256(std::string_view hex) {
  hex = Trim(hex, kBlanks);
  Sha256Digest digest{};
  std::size_t length = 0;
  const char* end = nullptr;
  if (hex.size() != 2 * digest.size() ||
      sodium_hex2bin(digest.data(), digest.size(), hex.data(), hex.size(), nullptr, &length,
                     &end) != 0 ||
      length != digest.size() || end != hex.data() + hex.size())
    return std::nullopt;
  return digest;
}

std::string Sha256Hex(const Sha256Digest& digest) {
  char text[2 * crypto_hash_sha256_BYTES + 1];
  sodium_bin2hex(text, sizeof text, digest.data(), digest.size());
  return text;
}

void Sha256Stream::Free::operator()(evp_md_ctx_st* context) const {
  EVP_MD_CTX_free(context);
}

Sha256Stream::Sha256Stream() : mContext(EVP_MD_CTX_new()) {
  if (!mContext || EVP_DigestInit_ex(mContext.get(), EVP_sha256(), nullptr) != 1) std::abort();
}

void Sha256Stream::Update(const void* data, std::size_t size) {
  EVP_DigestUpdate(mContext.get(), data, size);
}

Sha256Digest Sha256Stream::Final() {
  Sha256Digest digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(mContext.get(), digest.data(), &length);
  return digest;
}

struct Sha256Pipe::Shared {
  static constexpr std::size_t MaxWaiting = 3;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::deque<std::vector<char>> Waiting;
  std::deque<std::vector<char>> Hashed;
  bool Closing = false;
  Sha256Stream Stream;

  void Run() {
    std::unique_lock lock(Mutex);
    for (;;) {
      Changed.wait(lock, [this] { return !Waiting.empty() || Closing; });
      if (Waiting.empty()) return;
      std::vector<char> block = std::move(Waiting.front());
      Waiting.pop_front();
      lock.unlock();
      Stream.Update(block.data(), block.size());
      block.clear();
      lock.lock();
      if (Hashed.size() < MaxWaiting) Hashed.push_back(std::move(block));
      Changed.notify_all();
    }
  }
};

Sha256Pipe::Sha256Pipe() : mShared(std::make_unique<Shared>()) {}

Sha256Pipe::~Sha256Pipe() {
  Stop();
}

void Sha256Pipe::Stop() {
  if (!mThread.joinable()) return;
  {
    std::lock_guard lock(mShared->Mutex);
    mShared->Closing = true;
  }
  mShared->Changed.notify_all();
  mThread.join();
}

std::vector<char> Sha256Pipe::Push(std::vector<char> block) {
  if (!mThread.joinable()) mThread = std::thread([shared = mShared.get()] { shared->Run(); });
  std::unique_lock lock(mShared->Mutex);
  mShared->Changed.wait(lock, [this] { return mShared->Waiting.size() < Shared::MaxWaiting; });
  mShared->Waiting.push_back(std::move(block));
  mShared->Changed.notify_all();
  std::vector<char> spare;
  if (!mShared->Hashed.empty()) {
    spare = std::move(mShared->Hashed.front());
    mShared->Hashed.pop_front();
  }
  return spare;
}

Sha256Digest Sha256Pipe::Final(std::string_view last) {
  Stop();  // every block pushed is hashed once the thread has ended
  mShared->Stream.Update(last.data(), last.size());
  return mShared->Stream.Final();
}

std::optional<Sha256Digest> Sha256OfFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  Sha256Stream stream;
  std::vector<char> buffer(1 << 16);
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    stream.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  return stream.Final();
}

std::string ToBase64(std::string_view bytes) {
  InitSodium();
  std::string text(sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), Bytes(bytes), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);  // the terminating zero
  return text;
}

std::optional<std::string> FromBase64(std::string_view text, std::size_t size) {
  InitSodium();
  text = Trim(text, kBlanks);
  std::string bytes(size + 1, '\0');
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), text.data(),
                        text.size(), nullptr, &length, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size() || length != size)
    return std::nullopt;
  bytes.resize(size);
  return bytes;
}

KeyPair GenerateKeyPair() {
  InitSodium();
  std::string publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
  std::string secretKey(crypto_sign_SECRETKEYBYTES, '\0');
  crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicKey.data()),
                      reinterpret_cast<unsigned char*>(secretKey.data()));
  KeyPair pair{ToBase64(secretKey), ToBase64(publicKey)};
  sodium_memzero(secretKey.data(), secretKey.size());
  return pair;
}

std::optional<std::string> PublicKeyOf(std::string_view secretKey) {
  std::optional<std::string> secret = FromBase64(secretKey, crypto_sign_SECRETKEYBYTES);
  if (!secret) return std::nullopt;
  std::string publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
  crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char*>(publicKey.data()), Bytes(*secret));
  sodium_memzero(secret->data(), secret->size());
  return ToBase64(publicKey);
}

std::optional<std::string> PublicKeyText(std::string_view text) {
  const std::optional<std::string> key = FromBase64(text, crypto_sign_PUBLICKEYBYTES);
  if (!key) return std::nullopt;
  return ToBase64(*key);
}

std::optional<std::string> ReadPublicKey(const std::string& fileOrKey) {
  if (std::optional<std::string> key = PublicKeyText(fileOrKey)) return key;
  std::ifstream in(fileOrKey, std::ios::binary);
  char bytes[256];
  in.read(bytes, sizeof bytes);  // a key file is one short line
  return PublicKeyText(std::string_view(bytes, static_cast<std::size_t>(in.gcount())));
}

bool IsSecretKeyShared(const std::filesystem::path& file) {
  using std::filesystem::perms;
  std::error_code error;
  const perms mode = std::filesystem::status(file, error).permissions();
  return !error && mode != perms::unknown &&
         (mode & (perms::group_all | perms::others_all)) != perms::none;
}

std::optional<std::string> SignDetached(std::string_view message, std::string_view secretKey) {
  std::optional<std::string> secret = FromBase64(secretKey, crypto_sign_SECRETKEYBYTES);
  if (!secret) return std::nullopt;
  std::string signature(crypto_sign_BYTES, '\0');
  crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr, Bytes(message),
                       message.size(), Bytes(*secret));
  sodium_memzero(secret->data(), secret->size());
  return ToBase64(signature);
}

bool VerifyDetached(std::string_view message, std::string_view signature,
                    std::string_view publicKey) {
  const std::optional<std::string> key = FromBase64(publicKey, crypto_sign_PUBLICKEYBYTES);
  const std::optional<std::string> sig = FromBase64(signature, crypto_sign_BYTES);
  if (!key || !sig) return false;
  return crypto_sign_verify_detached(Bytes(*sig), Bytes(message), message.size(), Bytes(*key)) == 0;
}

}  // namespace tandor
