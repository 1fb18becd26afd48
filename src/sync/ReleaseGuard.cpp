#include "sync/ReleaseGuard.h"

#include <chrono>
#include <thread>

#include "platform/Error.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "sync/EntryRules.h"
#include "sync/ManifestChoice.h"
#include "sync/PassContext.h"
#include "sync/ReleaseBackup.h"
#include "sync/WritePolicy.h"
#include "ui/Messages.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Per product, the release that failed on this machine and is not installed again.
constexpr const char* kRefusedKey = "SOFTWARE\\Tandor\\Refused";
constexpr std::string_view kDigestRelease = "SHA256-";

constexpr auto kPollInterval = std::chrono::milliseconds(10);

}  // namespace

std::string ReleaseText(const std::string& release) {
  if (release.starts_with(kDigestRelease)) return "SHA256=" + release.substr(kDigestRelease.size());
  return "Serial=" + release;
}

std::string DigestRelease(const std::string& sha256Hex) {
  return std::string(kDigestRelease) + sha256Hex;
}

bool ReleaseRefused(const Prefix& machine, const std::string& product, const std::string& release) {
  return !release.empty() && machine.ReadRegistryValue(kRefusedKey, product) == release;
}

ReleaseGuard::ReleaseGuard(PassContext& pass, const WritePolicy& writes)
    : mPass(pass), mWrites(writes) {}

ReleaseGuard::~ReleaseGuard() = default;

void ReleaseGuard::FinishLast() {
  mRelease = std::make_unique<ReleaseBackup>(
      mPass.BackupFolder(), mPass.RecordFile(),
      [this](const fs::path& target) { return mWrites.IsWritablePlace(target); });
  const std::string release = ReleaseText(mRelease->Release());
  bool back = true;
  switch (mRelease->Pending()) {
    case ReleaseBackup::State::Installing:
      back = PutBack(msg::UnfinishedReleaseUndone(release));
      break;
    case ReleaseBackup::State::RollingBack:
      mPass.Env.Machine->WriteRegistryValue(kRefusedKey, mPass.Env.ArgumentText,
                                            mRelease->Refusal());
      back = PutBack(msg::UnfinishedRollbackDone(release));
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

void ReleaseGuard::TakeUpHandedOver(const TakenManifest& taken) {
  if (mRelease->Pending() != ReleaseBackup::State::HandedOver) return;
  if (!taken.Hold && mRelease->Release() == taken.Release) {
    mRelease->Resume();
    mReleaseName = ReleaseText(taken.Release);
    return;
  }
  if (!PutBack(msg::UnfinishedReleaseUndone(ReleaseText(mRelease->Release()))))
    throw Stop{pass_status::EntryFailed};
}

void ReleaseGuard::Begin(const TakenManifest& taken, const EntryTable& table) {
  if (taken.Files.Verify == 0 || table.DownloadCount == 0 ||
      mRelease->Pending() == ReleaseBackup::State::Installing)
    return;
  try {
    mRelease->Begin(taken.Release);
  } catch (const RuntimeError& error) {
    // Nothing is replaced that could not be put back.
    mPass.Report("Error:" + error.Description());
    throw Stop{pass_status::EntryFailed};
  }
  mReleaseName = ReleaseText(taken.Release);
}

void ReleaseGuard::Keep(const fs::path& target) {
  if (mRelease) mRelease->Keep(target);
}

bool ReleaseGuard::HandOver() {
  const bool keeping = mRelease->Pending() == ReleaseBackup::State::Installing;
  if (keeping) mRelease->SetState(ReleaseBackup::State::HandedOver);
  return keeping;
}

void ReleaseGuard::TakeBack() {
  mRelease->SetState(ReleaseBackup::State::Installing);
}

bool ReleaseGuard::StartWatching() {
  if (mRelease->Pending() != ReleaseBackup::State::Installing) return false;
  mRelease->SetState(ReleaseBackup::State::Verifying);
  return true;
}

int ReleaseGuard::Verify(std::optional<ProcessId> program, const EntryTable& table,
                         const FilesSettings& files) {
  const int index = files.Execute, seconds = files.Verify;
  const bool named = index > 0 && index <= static_cast<int>(table.Entries.size());
  const std::string path =
      named ? table.Entries[static_cast<std::size_t>(index - 1)].Entry.TargetPath() : std::string();
  if (!program) {
    // Nothing to watch (Execute=0): the release stays. A program named that is not there, or
    // would not even start, fails it.
    if (index == 0 && files.ExecuteIsNumber) {
      mRelease->Commit();
      return pass_status::Completed;
    }
    if (!named) return RollBack(msg::NoFinalProgram(files.ExecuteText).substr(6));  // no "Error:"
    return RollBack(msg::FinalProgramNotStarted(path));
  }
  mPass.Env.Window->AddLine(msg::Verifying(path, seconds));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::optional<int> code;
  while (!(code = PollExitCode(*program)) && std::chrono::steady_clock::now() < end) {
    mPass.Pump();
    std::this_thread::sleep_for(kPollInterval);
  }
  // Still running when the time is up, or ended well: the release is good.
  if (!code || *code == 0) {
    mRelease->Commit();
    return pass_status::Completed;
  }
  return RollBack(msg::FinalProgramFailed(path, *code));
}

int ReleaseGuard::RollBack(const std::string& reason) {
  // Refused first: a pass that dies while putting the files back must not install it again.
  mRelease->SetState(ReleaseBackup::State::RollingBack, mRelease->Release());
  mPass.Env.Machine->WriteRegistryValue(kRefusedKey, mPass.Env.ArgumentText, mRelease->Refusal());
  return PutBack(msg::ReleaseRolledBack(reason, mReleaseName)) ? pass_status::RolledBack
                                                               : pass_status::EntryFailed;
}

bool ReleaseGuard::PutBack(const std::string& done) {
  const fs::path record = mPass.RecordFile();
  const std::string release = ReleaseText(mRelease->Release());
  mPass.Env.Ini->Forget(record);  // its pending writes first, then the record comes back whole
  std::string problem;
  const bool back = mRelease->Undo(problem);
  mPass.Env.Ini->Forget(record);
  mPass.Report(back ? done : "Error:" + msg::ReleaseNotPutBack(release, problem));
  return back;
}

void ReleaseGuard::End(int status) {
  // Only a release this pass installs: one a dead pass left is the next pass's to finish.
  if (!mRelease || mReleaseName.empty()) return;
  switch (mRelease->Pending()) {
    case ReleaseBackup::State::Installing:
      // A pass that ends early never leaves half a release; one that ends well (a reboot asked
      // for) keeps it unwatched.
      if (status == pass_status::Completed)
        mRelease->Commit();
      else
        PutBack(msg::ReleaseUndone(mReleaseName));
      break;
    case ReleaseBackup::State::Verifying:
      mRelease->Commit();  // stopped while watching: what was installed stays
      break;
    default:
      break;
  }
}

}  // namespace tandor
