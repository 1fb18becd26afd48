#pragma once
// Whether a machine trusts a manifest: a verdict over what the server sent and what the machine
// accepted before, with no side effect. The pass fetches the signature, reads the manifest's
// own claims and records what the verdict says to: the serial, and keys learned or revoked.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace tandor {

// What a manifest's signature and signature file may weigh.
constexpr std::int64_t kSignatureLimit = 4 << 10;
// The signature lines of a .sig that are looked at; one per signing key.
constexpr std::size_t kMostSignatures = 8;

struct ManifestEvidence {
  std::vector<std::string> Keys;       // the public keys (base64) the machine trusts
  std::vector<std::string> Revoked{};  // keys it trusted once, revoked since
  std::string Remote;                  // the manifest's path on the server, as messages name it
  // The manifest's bytes as downloaded; nothing when they cannot be read.
  std::optional<std::string> Bytes{};
  // The detached signatures the server sent, one per line; nothing when it sent none.
  std::optional<std::string> Signature{};
  bool SignatureTooLarge = false;  // the server sent more than kSignatureLimit
  std::string Product{};           // the product the pass is for
  // The manifest's own claims, from its [Files] section.
  std::string NamedProduct{};  // Product=
  std::string SerialText{};    // Serial=
  std::string SignedBy{};      // SignedBy=, the keys it says signed it
  std::string SignedAt{};      // Signed=
  std::string Expires{};       // Expires=
  std::string NextKey{};       // NextKey=
  std::string RevokeKey{};     // RevokeKey=
  long long Accepted = 0;      // the highest serial the machine accepted before
  std::time_t Now = 0;         // the machine's clock
  // Whether its Expires= holds it: not for a fallback that a trusted manifest names by its
  // digest, which takes its freshness from that one.
  bool Expiring = true;
  // Whether its NextKey= and RevokeKey= act: the product's own manifest, not an older release
  // taken as a fallback, which would undo what came after it.
  bool ChangesKeys = true;
};

struct TrustVerdict {
  // Why the manifest is refused; empty: it is trusted.
  std::string Refusal{};
  // The serial the machine accepts from now on, when it is higher than before.
  std::optional<long long> Record{};
  std::optional<std::string> Learn{};   // a key the machine trusts from now on
  std::optional<std::string> Revoke{};  // a key it no longer trusts
  std::vector<std::string> Notes{};     // what the pass reports of a trusted manifest

  bool Trusted() const { return Refusal.empty(); }
};

// Why `key` is no manifest key; nothing when it is one.
std::optional<std::string> KeyRefusal(const std::string& key);

// A signed manifest is trusted when a signature line is valid for its bytes by one of Keys, it
// names the product it is for, its serial is no lower than the one accepted before, and it has
// not expired. A machine whose clock is more than a day behind the signing time is told so, and
// takes that time for the clock.
TrustVerdict JudgeManifest(const ManifestEvidence& evidence);

}  // namespace tandor
