#include "sync/ManifestTrust.h"

#include <sodium.h>

#include <algorithm>
#include <string_view>

#include "manifest/RenumberEntries.h"
#include "manifest/SigningStamp.h"
#include "text/TextCase.h"
#include "ui/Messages.h"
#include "util/Integrity.h"
#include "util/UtcTime.h"

namespace tandor {

namespace {

bool Holds(const std::vector<std::string>& keys, const std::string& key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// The lines of a .sig that carry something, at most kMostSignatures of them.
std::vector<std::string_view> SignatureLines(std::string_view text) {
  std::vector<std::string_view> lines = SplitItems(text, '\n', " \t\r");
  if (lines.size() > kMostSignatures) lines.resize(kMostSignatures);
  return lines;
}

bool SignedBy(const std::string& key, const std::vector<std::string_view>& lines,
              std::string_view bytes) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](std::string_view line) { return VerifyDetached(bytes, line, key); });
}

// A key the manifest claims, as the machine would write it; a refusal when it is no key.
struct Claimed {
  std::optional<std::string> Key{};
  std::string Refusal{};
};
Claimed ClaimedKey(const ManifestEvidence& evidence, std::string_view name,
                   const std::string& value) {
  if (value.empty()) return {};
  if (std::optional<std::string> key = PublicKeyText(value)) return {std::move(key)};
  return {std::nullopt, msg::ManifestClaimUnreadable(evidence.Remote, name, value)};
}

// Keys announced and revoked, for a manifest signed by `signers` (those of the trusted keys
// whose signature it carries). A key that signed it is revoked only while another signer stays:
// a manifest cannot take away the trust it is taken on.
std::string JudgeKeyChanges(const ManifestEvidence& evidence, std::vector<std::string> signers,
                            const std::vector<std::string_view>& lines, TrustVerdict& verdict) {
  const Claimed next = ClaimedKey(evidence, claim::NextKey, evidence.NextKey);
  const Claimed revoke = ClaimedKey(evidence, claim::RevokeKey, evidence.RevokeKey);
  if (!next.Refusal.empty()) return next.Refusal;
  if (!revoke.Refusal.empty()) return revoke.Refusal;
  if (next.Key && !Holds(evidence.Keys, *next.Key) && next.Key != revoke.Key) {
    verdict.Learn = next.Key;
    if (SignedBy(*next.Key, lines, *evidence.Bytes)) signers.push_back(*next.Key);
  }
  if (revoke.Key && Holds(evidence.Keys, *revoke.Key)) {
    std::erase(signers, *revoke.Key);
    if (signers.empty()) {
      verdict.Notes.push_back(msg::RevokedOwnSigner(*revoke.Key));
    } else {
      verdict.Revoke = revoke.Key;
    }
  }
  return {};
}

}  // namespace

std::optional<std::string> KeyRefusal(const std::string& key) {
  if (FromBase64(key, crypto_sign_PUBLICKEYBYTES)) return std::nullopt;
  return msg::BadManifestKey(key);
}

TrustVerdict JudgeManifest(const ManifestEvidence& evidence) {
  const std::string& remote = evidence.Remote;
  if (evidence.SignatureTooLarge) return {msg::SignatureTooLarge(remote, kSignatureLimit >> 10)};
  if (!evidence.Signature) return {msg::ManifestUnsigned(remote)};
  if (!evidence.Bytes) return {msg::ManifestSignatureWrong(remote)};
  const std::vector<std::string_view> lines = SignatureLines(*evidence.Signature);
  std::vector<std::string> signers;
  for (const std::string& key : evidence.Keys) {
    if (SignedBy(key, lines, *evidence.Bytes)) signers.push_back(key);
  }
  if (signers.empty()) {
    // Validly signed by a key this machine has not been told of: it missed the manifest that
    // announced the key. Said apart from a forgery, as the operator must bring it along.
    for (const std::string_view named : SplitItems(evidence.SignedBy, ';')) {
      const std::optional<std::string> key = PublicKeyText(named);
      if (!key || !SignedBy(*key, lines, *evidence.Bytes)) continue;
      if (Holds(evidence.Revoked, *key)) return {msg::ManifestSignedByRevokedKey(remote, *key)};
      return {msg::ManifestSignedByUnknownKey(remote, *key)};
    }
    return {msg::ManifestSignatureWrong(remote)};
  }
  // A signature says who published, not for which product: another product's manifest served
  // at this one's path would install the wrong software and carry its serial over to this
  // product, so a signed manifest must name the product it is for.
  if (!EqualsIgnoreCase(evidence.NamedProduct, evidence.Product))
    return {msg::ManifestForAnotherProduct(remote, evidence.NamedProduct, evidence.Product)};
  // A validly signed but older manifest is a replay: it would bring back what was fixed since.
  const std::optional<long long> serial = ParseSerial(evidence.SerialText);
  if (!serial || *serial < evidence.Accepted)
    return {msg::ManifestRolledBack(remote, evidence.SerialText, evidence.Accepted)};
  TrustVerdict verdict;
  const std::optional<std::time_t> signedAt = ParseUtcTime(evidence.SignedAt);
  const std::optional<std::time_t> expires = ParseUtcTime(evidence.Expires);
  if (!evidence.SignedAt.empty() && !signedAt)
    return {msg::ManifestClaimUnreadable(remote, claim::Signed, evidence.SignedAt)};
  if (!evidence.Expires.empty() && !expires)
    return {msg::ManifestClaimUnreadable(remote, claim::Expires, evidence.Expires)};
  // A clock far behind would take a frozen manifest for a fresh one: the signing time is a
  // later "now" than the clock knows.
  std::time_t now = evidence.Now;
  if (signedAt && *signedAt - now > kSecondsPerDay) {
    verdict.Notes.push_back(msg::ClockBehind(remote, evidence.SignedAt));
    now = *signedAt;
  }
  // A mirror that stopped taking new releases serves this one on and on: past its date it is
  // refused, so machines learn that something is wrong instead of missing every fix since.
  if (evidence.Expiring && expires && now >= *expires)
    return {msg::ManifestExpired(remote, evidence.Expires)};
  if (evidence.ChangesKeys) {
    if (std::string refusal = JudgeKeyChanges(evidence, std::move(signers), lines, verdict);
        !refusal.empty())
      return {std::move(refusal)};
  }
  if (*serial > evidence.Accepted) verdict.Record = *serial;
  return verdict;
}

}  // namespace tandor
