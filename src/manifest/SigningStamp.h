#pragma once
// What a manifest says of its own signature, in its [Files] section, written before it is
// signed so that the signature covers it:
//   SignedBy=<public key>;...    the keys whose signatures its .sig holds, one line each
//   Signed=<UTC time>            when it was signed, and
//   Expires=<UTC time>           until when a machine takes it (a frozen mirror is found out)
//   NextKey=<public key>         a key machines trust from now on, beside the ones they have
//   RevokeKey=<public key>       a key machines no longer trust

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandor {

namespace claim {
constexpr std::string_view SignedBy = "SignedBy";
constexpr std::string_view Signed = "Signed";
constexpr std::string_view Expires = "Expires";
constexpr std::string_view NextKey = "NextKey";
constexpr std::string_view RevokeKey = "RevokeKey";
}  // namespace claim

// The longest validity a manifest may be given, in days (ten years).
constexpr int kMostExpiryDays = 3650;
// A number of days from 0 to kMostExpiryDays, in digits; nothing for anything else.
std::optional<int> ParseExpiryDays(std::string_view text);

struct SigningStamp {
  std::vector<std::string> Signers{};  // the public keys that are to sign it
  // Days until it expires; 0: it does not. Nothing: as long as the manifest held before
  // (Expires= less Signed=), counted from now, or as the text has it when it says no span.
  std::optional<int> ExpiresDays{};
  std::time_t Now = 0;
  std::string NextKey{};    // empty: as the text has it
  std::string RevokeKey{};  // empty: as the text has it
};

// The manifest text with its claims written for `stamp`; a text without [Files] comes back as
// it is.
std::string StampSigning(std::string_view text, const SigningStamp& stamp);

}  // namespace tandor
