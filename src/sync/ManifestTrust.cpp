#include "sync/ManifestTrust.h"

#include <sodium.h>

#include "manifest/RenumberEntries.h"
#include "text/TextCase.h"
#include "ui/Messages.h"
#include "util/Integrity.h"

namespace tandor {

std::optional<std::string> KeyRefusal(const std::string& key) {
  if (FromBase64(key, crypto_sign_PUBLICKEYBYTES)) return std::nullopt;
  return msg::BadManifestKey(key);
}

TrustVerdict JudgeManifest(const ManifestEvidence& evidence) {
  const std::string& remote = evidence.Remote;
  if (evidence.SignatureTooLarge) return {msg::SignatureTooLarge(remote, kSignatureLimit >> 10)};
  if (!evidence.Signature) return {msg::ManifestUnsigned(remote)};
  if (!evidence.Bytes || !VerifyDetached(*evidence.Bytes, *evidence.Signature, evidence.Key))
    return {msg::ManifestSignatureWrong(remote)};
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
  if (*serial > evidence.Accepted) verdict.Record = *serial;
  return verdict;
}

}  // namespace tandor
