#pragma once
// Whether a machine trusts a manifest: a verdict over what the server sent and what the machine
// accepted before, with no side effect. The pass fetches the signature, reads the manifest's
// own claims and records the serial the verdict says to.

#include <cstdint>
#include <optional>
#include <string>

namespace tandor {

// What a manifest's signature and signature file may weigh.
constexpr std::int64_t kSignatureLimit = 4 << 10;

struct ManifestEvidence {
  std::string Key;     // the public key (base64) manifests must be signed with
  std::string Remote;  // the manifest's path on the server, as messages name it
  // The manifest's bytes as downloaded; nothing when they cannot be read.
  std::optional<std::string> Bytes{};
  // The detached signature the server sent; nothing when it sent none.
  std::optional<std::string> Signature{};
  bool SignatureTooLarge = false;  // the server sent more than kSignatureLimit
  std::string Product{};           // the product the pass is for
  std::string NamedProduct{};      // the manifest's Product=
  std::string SerialText{};        // the manifest's Serial=
  long long Accepted = 0;          // the highest serial the machine accepted before
};

struct TrustVerdict {
  // Why the manifest is refused; empty: it is trusted.
  std::string Refusal{};
  // The serial the machine accepts from now on, when it is higher than before.
  std::optional<long long> Record{};

  bool Trusted() const { return Refusal.empty(); }
};

// Why `key` is no manifest key; nothing when it is one.
std::optional<std::string> KeyRefusal(const std::string& key);

// A signed manifest is trusted when the signature by Key is valid for its bytes, it names the
// product it is for, and its serial is no lower than the one accepted before.
TrustVerdict JudgeManifest(const ManifestEvidence& evidence);

}  // namespace tandor
