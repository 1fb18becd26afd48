#include "sync/ManifestChoice.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <set>
#include <string_view>
#include <vector>

#include "manifest/ManifestRules.h"
#include "manifest/RenumberEntries.h"
#include "manifest/SigningStamp.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "sync/ManifestTrust.h"
#include "sync/PassContext.h"
#include "sync/ReleaseGuard.h"
#include "sync/Rollout.h"
#include "sync/ServerSelection.h"
#include "text/TextCase.h"
#include "transfer/Downloader.h"
#include "ui/Messages.h"
#include "util/Integrity.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Where the machine keeps what it trusts: the manifest keys and, per product, the highest
// manifest serial accepted so far.
constexpr const char* kTrustKey = "SOFTWARE\\Tandor";
constexpr const char* kSerialKey = "SOFTWARE\\Tandor\\Serial";

constexpr const char* kKeyName = "ManifestKey";
constexpr const char* kRevokedName = "RevokedKeys";
constexpr int kMostKeys = 16;  // ManifestKey, ManifestKey2, ... ManifestKey16

std::string KeySlot(int number) {
  return number == 1 ? std::string(kKeyName) : kKeyName + std::to_string(number);
}

// The machine's manifest keys as its registry holds them, read in one go.
struct KeyStore {
  // Slot n: ManifestKey (n = 1) or ManifestKey<n>; [0] is not used.
  std::array<std::string, kMostKeys + 1> Slots{};
  // Keys revoked, the latest kMostKeys of them: a key built into the program stays revoked,
  // and a manifest signed by one is called what it is.
  std::vector<std::string> Revoked{};

  static KeyStore Read(const Prefix& machine) {
    KeyStore store;
    std::set<std::string> seen;
    for (const auto& [name, value] : machine.ReadRegistryValues(kTrustKey)) {
      const std::string lower = LowerAscii(name);
      if (!seen.insert(lower).second) continue;  // the first of a name counts, as a lookup's
      for (int slot = 1; slot <= kMostKeys; ++slot) {
        if (lower == LowerAscii(KeySlot(slot))) store.Slots[slot] = value;
      }
      if (lower == LowerAscii(kRevokedName)) {
        for (const std::string_view key : SplitItems(value, ';')) store.Revoked.emplace_back(key);
      }
    }
    return store;
  }
  // The slot holding `key`, or 0.
  int SlotOf(const std::string& key) const {
    for (int slot = 1; slot <= kMostKeys; ++slot) {
      if (PublicKeyText(Slots[slot]) == key) return slot;
    }
    return 0;
  }
  bool IsRevoked(const std::string& key) const {
    return std::find(Revoked.begin(), Revoked.end(), key) != Revoked.end();
  }
  void Write(const Prefix& machine, int slot, const std::string& key) {
    Slots[slot] = key;
    machine.WriteRegistryValue(kTrustKey, KeySlot(slot), key);
  }
  void WriteRevoked(const Prefix& machine) const {
    std::string list;
    for (const std::string& key : Revoked) list += (list.empty() ? "" : ";") + key;
    machine.WriteRegistryValue(kTrustKey, kRevokedName, list);
  }
};

// The public keys manifests may be signed with: the one built in (else the machine's
// ManifestKey=) and those learned since (ManifestKey2=, ...), less those revoked. None:
// manifests are not checked. Never taken from a file beside the program. A value that is no
// key refuses them all.
struct TrustedKeys {
  std::vector<std::string> Keys;
  std::optional<std::string> Refusal;
};
TrustedKeys ReadTrustedKeys(const KeyStore& store) {
  TrustedKeys trusted;
  const std::string builtIn = TANDOR_MANIFEST_KEY;
  for (int slot = 1; slot <= kMostKeys; ++slot) {
    const std::string& value = slot == 1 && !builtIn.empty() ? builtIn : store.Slots[slot];
    if (Trim(value).empty()) continue;
    if (const std::optional<std::string> refusal = KeyRefusal(value)) {
      trusted.Refusal = refusal;
      return trusted;
    }
    const std::string key = *PublicKeyText(value);
    if (!store.IsRevoked(key) &&
        std::find(trusted.Keys.begin(), trusted.Keys.end(), key) == trusted.Keys.end())
      trusted.Keys.push_back(key);
  }
  return trusted;
}

// What a trusted manifest said of the keys, into the registry.
void ChangeKeys(PassContext& pass, const TrustVerdict& verdict, KeyStore& store) {
  const Prefix& machine = *pass.Env.Machine;
  const std::string builtIn = PublicKeyText(TANDOR_MANIFEST_KEY).value_or("");
  if (verdict.Learn) {
    const std::string& key = *verdict.Learn;
    if (std::erase(store.Revoked, key) > 0) store.WriteRevoked(machine);
    if (key != builtIn && store.SlotOf(key) == 0) {
      int free = 2;
      while (free <= kMostKeys && !Trim(store.Slots[free]).empty()) ++free;
      if (free > kMostKeys) {
        pass.Report(msg::NoRoomForKey(key, kMostKeys));
      } else {
        store.Write(machine, free, key);
        pass.Report(msg::KeyLearned(key));
      }
    }
  }
  if (verdict.Revoke) {
    const std::string& key = *verdict.Revoke;
    for (int slot; (slot = store.SlotOf(key)) != 0;) store.Write(machine, slot, "");
    if (!store.IsRevoked(key)) {
      store.Revoked.push_back(key);
      if (store.Revoked.size() > static_cast<std::size_t>(kMostKeys))
        store.Revoked.erase(store.Revoked.begin());
      store.WriteRevoked(machine);
    }
    pass.Report(msg::KeyRevoked(key));
  }
}

ManifestChoice Ended(int status) {
  return {std::nullopt, status};
}

ManifestChoice Unusable(PassContext& pass, const std::string& text) {
  pass.Fail(pass_status::NoServer);
  ReportManifestFailure(pass, ManifestFailure{true, text});
  return Ended(pass_status::NoServer);
}

ManifestChoice Refused(PassContext& pass, const std::string& text) {
  pass.Fail(pass_status::Untrusted);
  RefuseManifest(pass, text);
  return Ended(pass_status::Untrusted);
}

TakenManifest ReadManifest(const PassContext& pass, const std::string& name) {
  TakenManifest taken;
  taken.Name = name;
  taken.Local = pass.LocalCopy(name);
  taken.Remote = pass.RemoteManifest(name);
  taken.Files = ManifestReader(*pass.Env.Ini, taken.Local, *pass.Env.Settings, pass.Env.AppFolder)
                    .ReadFilesSettings();
  return taken;
}

// Why a fallback whose name carries the start of its SHA-256 is not the one named; nothing
// when it is, or its name carries none.
std::optional<std::string> NotTheNamedOne(const TakenManifest& fallback) {
  // "<stem>.<h>.ini", <h> 16 hex digits: the name (in the signed manifest) says whose SHA-256
  // begins with <h>, and so binds the fallback to it; no older one can take its place.
  const std::optional<std::string> named = HexOfReleaseName(fallback.Name);
  if (!named) return std::nullopt;
  const std::optional<Sha256Digest> digest = Sha256OfFile(fallback.Local);
  if (digest && Sha256Hex(*digest).starts_with(*named)) return std::nullopt;
  return msg::FallbackNotTheNamedOne(fallback.Remote, *named);
}

// With a manifest key configured: the manifest carries a valid signature by that key and a
// serial no lower than the highest one accepted before (which it then records). The status
// the pass ends with otherwise (said why); Completed when it is trusted.
// `name`: the manifest's file name; a fallback's serial is kept apart from the product's own.
int Trust(PassContext& pass, const fs::path& manifest, const std::string& remote,
          const std::string& name) {
  const PassEnvironment& env = pass.Env;
  KeyStore store = KeyStore::Read(*env.Machine);
  TrustedKeys trusted = ReadTrustedKeys(store);
  if (trusted.Refusal) return Refused(pass, *trusted.Refusal).Status;
  if (trusted.Keys.empty()) return pass_status::Completed;
  ManifestEvidence evidence{
      .Keys = std::move(trusted.Keys), .Revoked = store.Revoked, .Remote = remote};
  fs::path signatureFile = manifest;
  signatureFile += ".sig";
  std::error_code ec;
  fs::remove(signatureFile, ec);
  TransferResult fetched;
  try {
    fetched = pass.Transfer->Download(
        {.Target = signatureFile, .Remote = remote + ".sig", .Limit = kSignatureLimit});
  } catch (const RuntimeError& error) {
    pass.Fail(pass_status::NoServer);
    ReportManifestFailure(pass,
                          {true, msg::ManifestNotStored(remote + ".sig", error.Description())});
    return pass_status::NoServer;
  }
  const std::optional<std::string> signature = ReadWholeFile(signatureFile);
  fs::remove(signatureFile, ec);
  evidence.SignatureTooLarge = fetched.Status == TransferResult::State::OverLimit;
  if (fetched.Done()) evidence.Signature = signature;
  evidence.Bytes = ReadWholeFile(manifest);
  evidence.Product = env.ArgumentText;
  evidence.NamedProduct = env.Ini->Read("Files", "Product", manifest);
  evidence.SerialText = env.Ini->Read("Files", "Serial", manifest);
  const auto claimed = [&](std::string_view key) {
    return env.Ini->Read("Files", std::string(key), manifest);
  };
  evidence.SignedBy = claimed(claim::SignedBy);
  evidence.SignedAt = claimed(claim::Signed);
  evidence.Expires = claimed(claim::Expires);
  evidence.NextKey = claimed(claim::NextKey);
  evidence.RevokeKey = claimed(claim::RevokeKey);
  evidence.Now = std::time(nullptr);
  // A rollout's fallback is an older release by design: its serials count apart, per name, so
  // that a machine outside the rollout takes it while neither can be replayed.
  const bool own = name == ManifestFileName(env.Version);
  evidence.ChangesKeys = own;
  evidence.Expiring = own || !HexOfReleaseName(name);
  const std::string serialKey =
      own ? std::string(kSerialKey) : std::string(kSerialKey) + "\\" + env.ArgumentText;
  const std::string serialName = own ? env.ArgumentText : name;
  evidence.Accepted =
      ParseSerial(env.Machine->ReadRegistryValue(serialKey, serialName).value_or("")).value_or(0);
  const TrustVerdict verdict = JudgeManifest(evidence);
  if (!verdict.Trusted()) return Refused(pass, verdict.Refusal).Status;
  for (const std::string& note : verdict.Notes) pass.Report(note);
  ChangeKeys(pass, verdict, store);
  if (verdict.Record)
    env.Machine->WriteRegistryValue(serialKey, serialName, std::to_string(*verdict.Record));
  return pass_status::Completed;
}

}  // namespace

ManifestChoice ChooseManifest(PassContext& pass) {
  const std::string name = ManifestFileName(pass.Env.Version);
  if (const int status =
          Trust(pass, pass.Native(pass.LocalManifest()), pass.RemoteManifest(name), name);
      status != pass_status::Completed)
    return Ended(status);
  TakenManifest taken = ReadManifest(pass, name);
  // A share that cannot be read would send the release to the wrong machines: nobody takes it.
  if (!taken.Files.RolloutIsNumber)
    return Unusable(pass, msg::RolloutNotAPercent(taken.Remote, taken.Files.RolloutText));
  if (taken.Files.Rollout) {
    const int percent = *taken.Files.Rollout;
    const int bucket = RolloutBucket(pass.Env.ArgumentText, MachineId(*pass.Env.Machine));
    const std::string fallback = taken.Files.Fallback;
    // Every machine finds a wrong name wrong, not only those outside the share.
    if (!fallback.empty() && (!IsPlainFileName(fallback) || EqualsIgnoreCase(fallback, name)))
      return Unusable(pass, msg::FallbackNotAName(taken.Remote, fallback));
    if (bucket < percent) {
      pass.Report(msg::RolloutTaken(name, bucket, percent));
    } else if (fallback.empty()) {
      pass.Report(msg::RolloutOutside(name, bucket, percent));
      taken.Hold = true;
      return {std::move(taken)};
    } else {
      pass.Report(msg::RolloutFallback(fallback, bucket, percent));
      if (const std::optional<ManifestFailure> failure = TakeManifest(pass, fallback)) {
        pass.Fail(pass_status::NoServer);
        ReportManifestFailure(pass, *failure);
        return Ended(pass_status::NoServer);
      }
      // The fallback is taken as it is: its own Rollout= and Fallback= lead nowhere further.
      TakenManifest other = ReadManifest(pass, fallback);
      int status = pass_status::Completed;
      if (const std::optional<std::string> wrong = NotTheNamedOne(other))
        status = Refused(pass, *wrong).Status;
      else
        status = Trust(pass, other.Local, other.Remote, fallback);
      if (status != pass_status::Completed) {
        std::error_code ec;
        fs::remove(other.Local, ec);
        return Ended(status);
      }
      taken = std::move(other);
    }
  }
  if (!taken.Files.VerifyIsNumber)
    return Unusable(pass, msg::VerifyNotSeconds(taken.Remote, taken.Files.VerifyText));
  const std::string serial = pass.Env.Ini->Read("Files", "Serial", taken.Local);
  if (const std::optional<long long> number = ParseSerial(serial); number && !serial.empty())
    taken.Release = std::to_string(*number);
  else if (const std::optional<Sha256Digest> digest = Sha256OfFile(taken.Local))
    taken.Release = DigestRelease(Sha256Hex(*digest));
  if (ReleaseRefused(*pass.Env.Machine, pass.Env.ArgumentText, taken.Release)) {
    pass.Report(msg::ReleaseRefused(ReleaseText(taken.Release)));
    taken.Hold = true;
  }
  return {std::move(taken)};
}

}  // namespace tandor
