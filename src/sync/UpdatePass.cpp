#include "sync/UpdatePass.h"

#include <set>

#include "manifest/InstallationRecord.h"
#include "manifest/ManifestReader.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "sync/EntryInstaller.h"
#include "sync/EntryRules.h"
#include "sync/ManifestChoice.h"
#include "sync/PassContext.h"
#include "sync/ReleaseGuard.h"
#include "sync/ServerSelection.h"
#include "sync/WritePolicy.h"
#include "transfer/Downloader.h"
#include "ui/Messages.h"

namespace tandor {

namespace fs = std::filesystem;

UpdatePass::UpdatePass(PassEnvironment environment)
    : mPass(std::make_unique<PassContext>(std::move(environment))) {
  mWrites = std::make_unique<WritePolicy>(*mPass->Env.Machine, mPass->Native(mPass->Env.AppFolder),
                                          mPass->BackupFolder());
  mRelease = std::make_unique<ReleaseGuard>(*mPass, *mWrites);
}

UpdatePass::~UpdatePass() = default;

PassOutcome UpdatePass::Sync() {
  try {
    return Run();
  } catch (const Stop& stop) {
    return Finish(stop.Status);
  } catch (const RuntimeError& error) {
    PassOutcome outcome = Finish(pass_status::EntryFailed);
    outcome.Unhandled = error;
    return outcome;
  }
}

PassOutcome UpdatePass::Run() {
  PassContext& pass = *mPass;
  pass.ErrLog.Create();
  pass.Env.Window->SetBusyPointer(true);
  pass.WaitForLauncher();
  mRelease->FinishLast();
  RemoveStaleTemporariesOfKeptManifest();

  if (const std::optional<PassOutcome> failed = SelectServer(pass)) {
    pass.Status = failed->Status;
    if (!failed->WaitForExit) return End();
    // The log and the consumed settings are on disk while the window waits for EXIT.
    PassOutcome waiting = Finish(pass.Status);
    waiting.WaitForExit = true;
    return waiting;
  }
  const ManifestChoice choice = ChooseManifest(pass);
  if (!choice.Taken) {
    pass.Status = choice.Status;
    std::error_code ec;
    if (pass.Status == pass_status::Untrusted) fs::remove(pass.Native(pass.LocalManifest()), ec);
    return End();
  }
  const TakenManifest& taken = *choice.Taken;
  const FilesSettings& files = taken.Files;
  mRelease->TakeUpHandedOver(taken);

  ManifestReader reader(*pass.Env.Ini, taken.Local, *pass.Env.Settings, pass.Env.AppFolder);
  mRecord = std::make_unique<InstallationRecord>(*pass.Env.Ini, pass.RecordFile());
  InstallationRecord& record = *mRecord;
  EntryRules rules(*pass.Env.Machine, pass.Env.Machine->AnsiCodePage(), record,
                   pass.Env.Settings->DataAccessVersion, pass.Env.Allow);
  rules.HoldToDigests(taken.Name != ManifestFileName(pass.Env.Version));
  EntryTable table = BuildEntryTable(reader, rules);
  if (taken.Hold) {
    pass.Transfer->Close();
    StartHeldProgram(table, files);
    return End();
  }
  RemoveStaleTemporaries(table);
  mRelease->Begin(taken, table);
  mInstaller = std::make_unique<EntryInstaller>(pass, *mWrites, *mRelease, record);
  EntryInstaller& installer = *mInstaller;
  installer.StartDownloadsAhead(table);

  if (table.DownloadCount > 0) {
    pass.Env.Window->Centre();
    pass.Env.Window->AddLineUnselected(msg::DownloadCount(table.DownloadCount));
    pass.Env.Window->Show();
    pass.Pump();
  }

  // Entry by entry, in manifest order: fetch and install it, then note it in the record.
  std::vector<EntryOutcome> outcomes;
  for (std::size_t index = 0; index < table.Entries.size(); ++index) {
    const PlannedEntry& planned = table.Entries[index];
    const FileEntry& entry = planned.Entry;
    installer.RunAhead(table, index);
    const EntryOutcome outcome =
        planned.Download ? installer.Install(entry, index, installer.Following(table, index))
                         : EntryOutcome::Installed;
    installer.Done(index);  // an entry that failed before its download
    outcomes.push_back(outcome);
    // A failed entry keeps what the record said before, so that the next pass tries it again.
    if (outcome == EntryOutcome::Installed)
      record.Write(entry);
    else
      pass.Fail(pass_status::EntryFailed);
    // Only a new updater that really arrived takes over: handing over to the old one would
    // start the same failing pass again, for ever.
    if (planned.Download && outcome == EntryOutcome::Installed && pass.IsUpdaterItself(entry))
      HandOver(entry);
  }

  installer.StopDownloadsAhead();
  pass.Transfer->Close();
  record.Flush();
  // A release that did not arrive whole goes back before anything of it runs.
  if (pass.Status != pass_status::Completed) mRelease->End(pass.Status);
  const bool verify = pass.Status == pass_status::Completed && mRelease->StartWatching();
  const std::optional<ProcessId> program = StartFinalProgram(table, files, outcomes);
  if (verify) {
    // A release put back says so, over a final program that did not start.
    if (const int verdict = mRelease->Verify(program, table, files);
        verdict != pass_status::Completed)
      pass.Status = verdict;
  }
  record.Flush();
  return End();
}

PassOutcome UpdatePass::End() {
  if (mPass->Transfer) mPass->Transfer->Close();
  mPass->ErrLog.Close();
  mPass->Env.Window->Hide();
  return Finish(mPass->Status);
}

PassOutcome UpdatePass::Finish(int status) {
  if (mInstaller) mInstaller->StopDownloadsAhead();  // what they fetched for nothing goes
  mRelease->End(status);
  RemoveOwnTemporaries();
  if (mRecord) mRecord->Flush();
  mPass->Env.Ini->Flush();
  mPass->ErrLog.Close();
  PassOutcome outcome;
  outcome.Status = status;
  return outcome;
}

void UpdatePass::HandOver(const FileEntry& entry) {
  PassContext& pass = *mPass;
  // The new launcher reads its settings from the file this pass emptied: it gets the ones this
  // pass used, so that its fresh pass talks to the same server.
  HandOverSettings(*pass.Env.Machine, *pass.Env.Ini, entry.LocalPath, *pass.Env.Settings);
  // The new launcher must not see this working copy still running: it takes this process's
  // place instead of starting beside it.
  mRecord->Flush();
  pass.Env.Ini->Flush();
  // A release being kept goes on in the new updater's pass.
  const bool keeping = mRelease->HandOver();
  pass.ErrLog.Close();
  mInstaller->StopDownloadsAhead();
  MakeRunnable(pass.Native(entry.TargetPath()));
  try {
    pass.Env.ReplaceProgram(entry.TargetPath() + " " + pass.Env.ArgumentText);
  } catch (const RuntimeError& error) {
    // The new updater never arrived (or cannot run): nobody takes over, so this pass goes on to
    // its end and says why instead of dying on the exception.
    if (keeping) mRelease->TakeBack();
    pass.ErrLog.Reopen();
    pass.FailEntry(error.Description(), entry.Filename);
    pass.Fail(pass_status::EntryFailed);
  }
}

void UpdatePass::RemoveStaleTemporaries(const EntryTable& table) {
  const PassContext& pass = *mPass;
  std::set<fs::path> folders = {pass.Native(pass.ProductFolder()), pass.Native(pass.Env.AppFolder)};
  for (const PlannedEntry& planned : table.Entries) {
    const FileEntry& entry = planned.Entry;
    folders.insert(pass.Native(entry.LocalPath));
    if (entry.Extract && !entry.ExtractTo.empty()) folders.insert(pass.Native(entry.ExtractTo));
  }
  // The registry file is rewritten beside itself, in the prefix's root.
  folders.insert(pass.Env.Machine->Root());
  for (const fs::path& folder : folders) {
    if (!mSwept.insert(folder).second) continue;
    if (folder == pass.Env.Machine->Root() || mWrites->IsWritablePlace(folder))
      tandor::RemoveStaleTemporaries(folder);
  }
}

void UpdatePass::RemoveStaleTemporariesOfKeptManifest() {
  const PassContext& pass = *mPass;
  const fs::path kept = pass.Native(pass.LocalManifest());
  EntryTable table;
  std::error_code ec;
  if (fs::is_regular_file(kept, ec)) {
    const ManifestReader reader(*pass.Env.Ini, kept, *pass.Env.Settings, pass.Env.AppFolder);
    for (long number = 1;; ++number) {
      std::string key = reader.ReadKey(number);
      if (key.empty()) break;
      table.Entries.push_back({.Entry = reader.ReadEntry(number, std::move(key))});
    }
  }
  RemoveStaleTemporaries(table);
}

void UpdatePass::StartHeldProgram(const EntryTable& table, const FilesSettings& files) {
  // What is installed keeps running as it did; a machine that has nothing yet has nothing to run.
  if (files.Execute < 1 || files.Execute > static_cast<int>(table.Entries.size())) return;
  const FileEntry& entry = table.Entries[static_cast<std::size_t>(files.Execute - 1)].Entry;
  std::error_code ec;
  if (!fs::is_regular_file(mPass->Native(entry.TargetPath()), ec)) return;
  StartFinalProgram(table, files, {});
}

std::optional<ProcessId> UpdatePass::StartFinalProgram(const EntryTable& table,
                                                       const FilesSettings& files,
                                                       const std::vector<EntryOutcome>& outcomes) {
  const int index = files.Execute;
  if (!files.ExecuteIsNumber || index < 0 || index > static_cast<int>(table.Entries.size())) {
    mPass->Report(msg::NoFinalProgram(files.ExecuteText));
    return std::nullopt;
  }
  if (index == 0) return std::nullopt;
  const std::size_t at = static_cast<std::size_t>(index - 1);
  if (at < outcomes.size() && outcomes[at] == EntryOutcome::Abandoned) return std::nullopt;
  const FileEntry& entry = table.Entries[at].Entry;
  std::optional<ProcessId> pid =
      mPass->StartInstalled(entry, files.ExecuteOption, WindowStyle::NormalFocus);
  if (!pid) mPass->Fail(pass_status::EntryFailed);
  return pid;
}

}  // namespace tandor
