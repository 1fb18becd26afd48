#include "sync/EntryInstaller.h"

#include <sys/stat.h>

#include <algorithm>
#include <thread>

#include "manifest/FileEntry.h"
#include "manifest/InstallationRecord.h"
#include "platform/Error.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "sync/EntryRules.h"
#include "sync/PassContext.h"
#include "sync/ReleaseGuard.h"
#include "sync/WritePolicy.h"
#include "text/TextCase.h"
#include "transfer/DownloadPool.h"
#include "ui/Messages.h"
#include "unzip/Unzip32.h"
#include "unzip/UnzipStatus.h"
#include "util/PathMacros.h"
#include "util/Registration.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Polling a started program: often enough to feel immediate, rarely enough to leave the
// processor alone.
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr int kStillActive = 259;

WindowStyle StyleFromExecute(const std::string& execute) {
  int value = 1;
  try {
    value = std::stoi(execute);
  } catch (const std::exception&) {
  }
  switch (value) {
    case 0:
      return WindowStyle::Hidden;
    case 2:
      return WindowStyle::MinimizedFocus;
    case 3:
      return WindowStyle::MaximizedFocus;
    case 4:
      return WindowStyle::NormalNoFocus;
    case 6:
      return WindowStyle::MinimizedNoFocus;
    default:
      return WindowStyle::NormalFocus;
  }
}

}  // namespace

EntryInstaller::EntryInstaller(PassContext& pass, WritePolicy& writes, ReleaseGuard& release,
                               InstallationRecord& record)
    : mPass(pass),
      mWrites(writes),
      mRelease(release),
      mRecord(record),
      mFetch([&pass](const FileEntry& entry) { return pass.IsUpdaterItself(entry); },
             pass.LauncherHeld) {
  mUnzip = std::make_unique<Unzip32>(
      [this](const std::string& prompt) { return mPass.Env.Window->AskPassword(prompt); },
      mPass.Env.Machine->AnsiCodePage(), mPass.Env.FreeSpace);
}

EntryInstaller::~EntryInstaller() = default;

bool EntryInstaller::TargetsAllowed(const FileEntry& entry) {
  const std::string outside = mWrites.TargetOutside(entry);
  if (outside.empty()) return true;
  mPass.FailEntry(msg::OutsideTheMachine(outside), entry.Filename);
  return false;
}

EntryOutcome EntryInstaller::Install(const FileEntry& entry, std::size_t index,
                                     const std::string& following) {
  mPass.Env.Ini->FlushDue();
  if (!TargetsAllowed(entry)) return EntryOutcome::Abandoned;
  if (mPass.LauncherHeld && mPass.IsUpdaterItself(entry)) {
    // Its record stays as it was: the next pass replaces the updater.
    mPass.FailEntry(msg::UpdaterNotReplaced(entry.TargetPath()), entry.Filename);
    return EntryOutcome::Abandoned;
  }
  DeleteOldFiles(entry);
  EntryOutcome outcome = Download(entry, index, following);
  if (!entry.Execute.empty() && !StartProgram(entry, outcome))
    outcome = std::max(outcome, EntryOutcome::Failed);
  if (entry.SelfRegister && !Register(entry)) outcome = std::max(outcome, EntryOutcome::Failed);
  return outcome;
}

void EntryInstaller::DeleteOldFiles(const FileEntry& entry) {
  // The installed file stays until its replacement has fully arrived and is renamed over it.
  // Only a copy under a substitute name ("x.ex_" for "x.exe"), which nothing replaces, goes now.
  if (MatchesWildcard(entry.Filename, "Tandor*") || !IsSubstituteName(entry.Filename) ||
      EqualsIgnoreCase(entry.Filename, entry.Realname))
    return;
  const fs::path file = mPass.Native(entry.LocalPath + "\\" + entry.Filename);
  struct stat info {};
  // A read-only file stays, as a plain delete leaves it.
  if (::lstat(file.c_str(), &info) != 0 || S_ISDIR(info.st_mode) || (info.st_mode & 0222) == 0)
    return;
  try {
    mRelease.Keep(file);
  } catch (const RuntimeError&) {
    return;  // what cannot be kept stays
  }
  std::error_code ec;
  fs::remove(file, ec);
}

bool EntryInstaller::StartProgram(const FileEntry& entry, EntryOutcome soFar) {
  UpdateWindow& window = *mPass.Env.Window;
  window.AddLine(msg::Starting(entry.Filename));
  std::optional<ProcessId> pid =
      mPass.StartInstalled(entry, entry.ExecuteOption, StyleFromExecute(entry.Execute));
  if (!pid) return false;
  if (!entry.Wait) return true;
  window.AddLine(msg::WaitingFor(entry.Filename));
  for (;;) {
    std::optional<int> code = PollExitCode(*pid);
    if (code && *code != kStillActive) break;
    mPass.Env.Ini->FlushDue();
    mPass.Pump();
    std::this_thread::sleep_for(kPollInterval);
  }
  window.AddLine(msg::Ended(entry.Filename));
  if (MatchesWildcard(entry.Realname, "MDAC*")) ShowRebootPrompt(entry, soFar);
  return true;
}

void EntryInstaller::ShowRebootPrompt(const FileEntry& entry, EntryOutcome soFar) {
  if (soFar == EntryOutcome::Installed) mRecord.Write(entry);
  mRecord.Flush();
  mPass.ErrLog.Close();
  MessageAnswer answer =
      mPass.Env.Window->ShowMessage("", msg::RebootNeeded(mPass.Env.ArgumentText),
                                    MessageIcon::Exclamation, MessageButtons::OkCancel);
  if (answer == MessageAnswer::Ok) throw Stop{pass_status::Completed};
  // The pass goes on: later lines belong in the same log.
  mPass.ErrLog.Reopen();
}

bool EntryInstaller::Register(const FileEntry& entry) {
  try {
    RunRegsvr32(*mPass.Env.Settings, *mPass.Env.Machine, entry.TargetPath(), -1);
    return true;
  } catch (const RuntimeError& error) {
    mPass.FailEntry(error.Description(), entry.Filename);
    return false;
  }
}

bool EntryInstaller::Extract(const FileEntry& entry, const std::string& extractTo) {
  const std::string archive = entry.LocalPath + "\\" + entry.Filename;
  // Each member's old file is kept before the member replaces it, as the download's is.
  // Members stay in the extraction folder and pass no link: the folder names are enough.
  const auto keep = [this, &entry](const fs::path& member) {
    if (mWrites.InBackup(member)) {
      mPass.FailEntry(msg::OutsideTheMachine(member.string()), entry.Filename);
      return false;
    }
    try {
      mRelease.Keep(member);
      return true;
    } catch (const RuntimeError& error) {
      mPass.FailEntry(error.Description(), entry.Filename);
      return false;
    }
  };
  mUnzip->SetUnzipOptions({.ZipFile = mPass.Native(archive),
                           .TargetFolder = mPass.Native(extractTo),
                           .BeforeReplace = keep});
  const std::int32_t status = mUnzip->RunUnzip();
  mWrites.LinksChanged();
  if (status == unzipstatus::Ok) return true;
  std::string text = msg::ExtractionError(archive);
  if (const auto& shortage = mUnzip->LastShortage())
    text += msg::TooLittleSpace(shortage->Needed, shortage->Margin, shortage->Available);
  else if (status == unzipstatus::DiskError)
    text += msg::CloseIfRunning(ReplaceIgnoringCase(entry.Realname, ".exe", ""));
  else
    text += msg::kAskTheAdministrator;
  mPass.Env.Window->ShowMessage(msg::kApplicationTitle, text, MessageIcon::Critical,
                                MessageButtons::Ok);
  return false;
}

}  // namespace tandor
