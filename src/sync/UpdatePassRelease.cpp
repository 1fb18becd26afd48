// The update pass's fleet steps: which manifest a machine takes in a staged rollout, and the
// release that is kept while it is installed, watched, and put back when its program fails.

#include <chrono>
#include <thread>

#include "manifest/RenumberEntries.h"
#include "platform/Error.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "sync/ReleaseBackup.h"
#include "sync/Rollout.h"
#include "sync/UpdatePass.h"
#include "text/TextCase.h"
#include "ui/Messages.h"
#include "util/Integrity.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Per product, the release that failed on this machine and is not installed again.
constexpr const char* kRefusedKey = "SOFTWARE\\Tandor\\Refused";
constexpr const char* kDigestRelease = "SHA256-";

constexpr auto kPollInterval = std::chrono::milliseconds(10);

// A release as the window and the log name it: "Serial=8", or "SHA256=<digest>".
std::string ReleaseText(const std::string& release) {
  if (release.starts_with(kDigestRelease))
    return "SHA256=" + release.substr(std::string_view(kDigestRelease).size());
  return "Serial=" + release;
}

}  // namespace

UpdatePass::TakenManifest UpdatePass::ReadManifest(const std::string& name) const {
  TakenManifest taken;
  taken.Name = name;
  taken.Local = LocalCopy(name);
  taken.Remote = RemoteManifest(name);
  taken.Files =
      ManifestReader(*mEnv.Ini, taken.Local, *mEnv.Settings, mEnv.AppFolder).ReadFilesSettings();
  return taken;
}

std::optional<UpdatePass::TakenManifest> UpdatePass::Unusable(const std::string& text) {
  ReportManifestFailure(ManifestFailure{true, text});
  return std::nullopt;
}

bool UpdatePass::FallbackIsTheNamedOne(const TakenManifest& fallback) {
  // "<stem>.<h>.ini", <h> 16 hex digits: the name (in the signed manifest) says whose SHA-256
  // begins with <h>, and so binds the fallback to it; no older one can take its place.
  const std::string& name = fallback.Name;
  constexpr std::size_t kDigits = 16;
  if (name.size() < kDigits + 6 || !EqualsIgnoreCase(name.substr(name.size() - 4), ".ini") ||
      name[name.size() - kDigits - 5] != '.')
    return true;
  const std::string named = LowerAscii(name.substr(name.size() - kDigits - 4, kDigits));
  if (named.find_first_not_of("0123456789abcdef") != std::string::npos) return true;
  const std::optional<Sha256Digest> digest = Sha256OfFile(fallback.Local);
  if (digest && Sha256Hex(*digest).starts_with(named)) return true;
  RefuseManifest(msg::FallbackNotTheNamedOne(fallback.Remote, named));
  return false;
}

std::optional<UpdatePass::TakenManifest> UpdatePass::ChooseManifest() {
  const std::string name = ManifestFileName(mEnv.Version);
  TakenManifest taken = ReadManifest(name);
  // A share that cannot be read would send the release to the wrong machines: nobody takes it.
  if (!taken.Files.RolloutIsNumber)
    return Unusable(msg::RolloutNotAPercent(taken.Remote, taken.Files.RolloutText));
  if (taken.Files.Rollout) {
    const int percent = *taken.Files.Rollout;
    const int bucket = RolloutBucket(mEnv.ArgumentText, MachineId(*mEnv.Machine));
    const std::string fallback = taken.Files.Fallback;
    // Every machine finds a wrong name wrong, not only those outside the share.
    if (!fallback.empty() && (!IsPlainFileName(fallback) || EqualsIgnoreCase(fallback, name)))
      return Unusable(msg::FallbackNotAName(taken.Remote, fallback));
    if (bucket < percent) {
      Report(msg::RolloutTaken(name, bucket, percent));
    } else if (fallback.empty()) {
      Report(msg::RolloutOutside(name, bucket, percent));
      taken.Hold = true;
      return taken;
    } else {
      Report(msg::RolloutFallback(fallback, bucket, percent));
      if (const std::optional<ManifestFailure> failure = TakeManifest(fallback)) {
        ReportManifestFailure(*failure);
        return std::nullopt;
      }
      // The fallback is taken as it is: its own Rollout= and Fallback= lead nowhere further.
      TakenManifest other = ReadManifest(fallback);
      if (!FallbackIsTheNamedOne(other) || !ManifestTrusted(other.Local, other.Remote, fallback)) {
        std::error_code ec;
        fs::remove(other.Local, ec);
        return std::nullopt;
      }
      taken = std::move(other);
    }
  }
  if (!taken.Files.VerifyIsNumber)
    return Unusable(msg::VerifyNotSeconds(taken.Remote, taken.Files.VerifyText));
  const std::string serial = mEnv.Ini->Read("Files", "Serial", taken.Local);
  if (const std::optional<long long> number = ParseSerial(serial); number && !serial.empty())
    taken.Release = std::to_string(*number);
  else if (const std::optional<Sha256Digest> digest = Sha256OfFile(taken.Local))
    taken.Release = kDigestRelease + Sha256Hex(*digest);
  if (Refused(taken.Release)) {
    Report(msg::ReleaseRefused(ReleaseText(taken.Release)));
    taken.Hold = true;
  }
  return taken;
}

bool UpdatePass::Refused(const std::string& release) const {
  return !release.empty() &&
         mEnv.Machine->ReadRegistryValue(kRefusedKey, mEnv.ArgumentText) == release;
}

void UpdatePass::StartHeldProgram(const EntryTable& table, const FilesSettings& files) {
  // What is installed keeps running as it did; a machine that has nothing yet has nothing to run.
  if (files.Execute < 1 || files.Execute > static_cast<int>(table.Entries.size())) return;
  const FileEntry& entry = table.Entries[static_cast<std::size_t>(files.Execute - 1)];
  std::error_code ec;
  if (!fs::is_regular_file(Native(entry.TargetPath()), ec)) return;
  StartFinalProgram(table, files.Execute, files.ExecuteOption, files.ExecuteText,
                    files.ExecuteIsNumber);
}

void UpdatePass::FinishLastRelease() {
  mRelease = std::make_unique<ReleaseBackup>(
      BackupFolder(), Native(ProductFolder() + "\\Version.ini"),
      [this](const fs::path& target) { return IsWritablePlace(target); });
  const std::string release = ReleaseText(mRelease->Release());
  bool back = true;
  switch (mRelease->Pending()) {
    case ReleaseBackup::State::Installing:
      back = PutReleaseBack(msg::UnfinishedReleaseUndone(release));
      break;
    case ReleaseBackup::State::RollingBack:
      mEnv.Machine->WriteRegistryValue(kRefusedKey, mEnv.ArgumentText, mRelease->Refusal());
      back = PutReleaseBack(msg::UnfinishedRollbackDone(release));
      break;
    case ReleaseBackup::State::Verifying:
      // Every file and the record were in place: the release stays.
      mRelease->Commit();
      break;
    default:
      break;
  }
  // Nothing is installed over files that are neither the old release nor the new one.
  if (!back) throw Stop{pass_status::EntryFailed};
}

void UpdatePass::TakeUpHandedOverRelease(const TakenManifest& taken) {
  if (mRelease->Pending() != ReleaseBackup::State::HandedOver) return;
  if (!taken.Hold && mRelease->Release() == taken.Release) {
    mRelease->Resume();
    mReleaseName = ReleaseText(taken.Release);
    return;
  }
  if (!PutReleaseBack(msg::UnfinishedReleaseUndone(ReleaseText(mRelease->Release()))))
    throw Stop{pass_status::EntryFailed};
}

void UpdatePass::BeginRelease(const TakenManifest& taken, const EntryTable& table) {
  if (taken.Files.Verify == 0 || table.DownloadCount == 0 ||
      mRelease->Pending() == ReleaseBackup::State::Installing)
    return;
  try {
    mRelease->Begin(taken.Release);
  } catch (const RuntimeError& error) {
    // Nothing is replaced that could not be put back.
    Report("Error:" + error.Description());
    throw Stop{pass_status::EntryFailed};
  }
  mReleaseName = ReleaseText(taken.Release);
}

void UpdatePass::KeepForRollback(const fs::path& target) {
  if (mRelease) mRelease->Keep(target);
}

void UpdatePass::VerifyRelease(std::optional<ProcessId> program, const EntryTable& table,
                               const FilesSettings& files) {
  const int index = files.Execute, seconds = files.Verify;
  const bool named = index > 0 && index <= static_cast<int>(table.Entries.size());
  const std::string path =
      named ? table.Entries[static_cast<std::size_t>(index - 1)].TargetPath() : std::string();
  if (!program) {
    // Nothing to watch (Execute=0): the release stays. A program named that is not there, or
    // would not even start, fails it.
    if (index == 0 && files.ExecuteIsNumber)
      mRelease->Commit();
    else if (!named)
      RollBack(msg::NoFinalProgram(files.ExecuteText).substr(6));  // without "Error:"
    else
      RollBack(msg::FinalProgramNotStarted(path));
    return;
  }
  mEnv.Window->AddLine(msg::Verifying(path, seconds));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::optional<int> code;
  while (!(code = PollExitCode(*program)) && std::chrono::steady_clock::now() < end) {
    Pump();
    std::this_thread::sleep_for(kPollInterval);
  }
  // Still running when the time is up, or ended well: the release is good.
  if (!code || *code == 0) {
    mRelease->Commit();
    return;
  }
  RollBack(msg::FinalProgramFailed(path, *code));
}

void UpdatePass::RollBack(const std::string& reason) {
  // Refused first: a pass that dies while putting the files back must not install it again.
  mRelease->SetState(ReleaseBackup::State::RollingBack, mRelease->Release());
  mEnv.Machine->WriteRegistryValue(kRefusedKey, mEnv.ArgumentText, mRelease->Refusal());
  mStatus = PutReleaseBack(msg::ReleaseRolledBack(reason, mReleaseName)) ? pass_status::RolledBack
                                                                         : pass_status::EntryFailed;
}

bool UpdatePass::PutReleaseBack(const std::string& done) {
  const fs::path record = Native(ProductFolder() + "\\Version.ini");
  const std::string release = ReleaseText(mRelease->Release());
  mEnv.Ini->Forget(record);  // its pending writes first, then the record comes back whole
  std::string problem;
  const bool back = mRelease->Undo(problem);
  mEnv.Ini->Forget(record);
  Report(back ? done : "Error:" + msg::ReleaseNotPutBack(release, problem));
  return back;
}

void UpdatePass::EndRelease(int status) {
  // Only a release this pass installs: one a dead pass left is the next pass's to finish.
  if (!mRelease || mReleaseName.empty()) return;
  switch (mRelease->Pending()) {
    case ReleaseBackup::State::Installing:
      // A pass that ends early never leaves half a release; one that ends well (a reboot asked
      // for) keeps it unwatched.
      if (status == pass_status::Completed)
        mRelease->Commit();
      else
        PutReleaseBack(msg::ReleaseUndone(mReleaseName));
      break;
    case ReleaseBackup::State::Verifying:
      mRelease->Commit();  // stopped while watching: what was installed stays
      break;
    default:
      break;
  }
}

}  // namespace tandor
