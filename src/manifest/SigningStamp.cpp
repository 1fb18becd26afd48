#include "manifest/SigningStamp.h"

#include "manifest/RenumberEntries.h"
#include "util/UtcTime.h"

namespace tandor {

namespace {

// The span the manifest's Signed= and Expires= give, when both are there and make sense.
std::optional<std::time_t> HeldSpan(std::string_view text) {
  const std::optional<std::time_t> signedAt = ParseUtcTime(FilesValue(text, claim::Signed));
  const std::optional<std::time_t> expires = ParseUtcTime(FilesValue(text, claim::Expires));
  if (!signedAt || !expires || *expires <= *signedAt) return std::nullopt;
  return *expires - *signedAt;
}

}  // namespace

std::optional<int> ParseExpiryDays(std::string_view text) {
  const std::optional<long long> days =
      text.empty() || text.size() > 4 ? std::nullopt : ParseSerial(text);
  if (!days || *days > kMostExpiryDays) return std::nullopt;
  return static_cast<int>(*days);
}

std::string StampSigning(std::string_view text, const SigningStamp& stamp) {
  std::string signers;
  for (const std::string& key : stamp.Signers) signers += (signers.empty() ? "" : ";") + key;
  std::string stamped = SetFilesValue(text, claim::SignedBy, signers);
  std::optional<std::time_t> span =
      stamp.ExpiresDays ? std::optional<std::time_t>(*stamp.ExpiresDays * kSecondsPerDay)
                        : HeldSpan(stamped);
  if (stamp.ExpiresDays == 0) {
    stamped = RemoveFilesKey(RemoveFilesKey(stamped, claim::Expires), claim::Signed);
  } else if (span) {
    stamped = SetFilesValue(stamped, claim::Expires, FormatUtcTime(stamp.Now + *span));
    stamped = SetFilesValue(stamped, claim::Signed, FormatUtcTime(stamp.Now));
  }
  if (!stamp.NextKey.empty()) stamped = SetFilesValue(stamped, claim::NextKey, stamp.NextKey);
  if (!stamp.RevokeKey.empty()) stamped = SetFilesValue(stamped, claim::RevokeKey, stamp.RevokeKey);
  return stamped;
}

}  // namespace tandor
