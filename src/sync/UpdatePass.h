#pragma once
// The working copy's update pass: wait for the launcher, connect, download the manifest, decide
// every entry, install the chosen ones in manifest order, keep the installation record, replace
// the updater when the manifest carries a new one, and start the product.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "manifest/FileEntry.h"
#include "manifest/ManifestReader.h"
#include "platform/Error.h"
#include "platform/FreeSpace.h"
#include "platform/Process.h"
#include "settings/ClientSettings.h"
#include "sync/EntryRules.h"
#include "sync/PassLog.h"
#include "ui/UpdateWindow.h"
#include "unzip/ZipExtraction.h"
#include "util/FileVersion.h"

namespace tandor {

class Downloader;
class DownloadPool;
struct DownloadRequest;
struct FtpOptions;
struct TransferResult;
class IniStore;
class InstallationRecord;
class Prefix;
class ReleaseBackup;
class Unzip32;
struct TransferResult;

// Exit statuses of the working copy.
namespace pass_status {
constexpr int Completed = 0;    // the pass completed and nothing failed
constexpr int EntryFailed = 1;  // a transfer, start or extraction failed (or the user stopped it)
constexpr int NoServer = 2;     // the server or the manifest could not be reached
constexpr int Refused = 3;      // a program of an entry was still open
constexpr int Untrusted = 4;    // the manifest's signature or serial was refused
constexpr int RolledBack = 5;   // the release's final program failed: its files were put back
}  // namespace pass_status

// Everything the pass takes from the program around it. The defaults are the real services;
// tests replace the ones they need to observe.
struct PassEnvironment {
  const Prefix* Machine = nullptr;
  IniStore* Ini = nullptr;
  const ClientSettings* Settings = nullptr;
  std::string AppFolder;     // the application folder as the program shows it
  std::string BaseName;      // the working copy's own file name without suffix
  std::string ArgumentText;  // the product
  ProgramVersion Version;
  UpdateWindow* Window = nullptr;
  // Replaces the running program by a command line; returns only by throwing RuntimeError.
  std::function<void(const std::string&)> ReplaceProgram;
  // Whether the launcher this pass may replace still runs its file `launcher`: only the one that
  // started the pass counts, and not when it waits for the pass to end.
  std::function<bool(const std::filesystem::path& launcher)> LauncherRunning;
  // How long the pass waits for that launcher before it goes on without replacing it.
  std::chrono::milliseconds LauncherWaitLimit{60000};
  std::function<bool(const std::string&)> FormWindowOpen;
  AllowRule Allow;
  // A transfer that moves (almost) nothing for this long fails.
  std::chrono::seconds TransferIdleLimit{60};
  // Where the free space of a download's or an extraction's folder comes from; empty: the file
  // system's.
  FreeSpaceSource FreeSpace;
};

// How a pass ended, for the program around it to act on.
struct PassOutcome {
  int Status = pass_status::Completed;
  // The connection failed: the window stays, saying why, until the user closes it.
  bool WaitForExit = false;
  // A failure no step handles (a product folder that cannot be created, a manifest that cannot
  // be stored), for the program to show before it ends.
  std::optional<RuntimeError> Unhandled;
};

// How the installation of one entry ended; a later value is worse than an earlier one.
enum class EntryOutcome {
  Installed,  // every step succeeded: the record notes the entry
  Failed,     // a step failed: the record keeps what it said, and the pass fails
  Abandoned,  // it failed before or in its download step: nor is it started at the end
};

class UpdatePass {
 public:
  explicit UpdatePass(PassEnvironment environment);
  ~UpdatePass();
  UpdatePass(const UpdatePass&) = delete;
  UpdatePass& operator=(const UpdatePass&) = delete;

  // Runs the pass and says how it ended. It ends early when the window asks to (EXIT, the close
  // box), at the first chance the window gets to say so. Only a new updater that takes over
  // does not come back: ReplaceProgram replaces the program.
  PassOutcome Sync();

  // One entry's download step: folder, transfer, log lines, extraction. Failed when the
  // transfer failed, Abandoned when the step ended in its failure handler. Refused while the
  // entry's program is open: the pass ends there.
  // `index`: the entry's place in the manifest, under which its download may have run ahead;
  // `following`: the remote file the pass downloads next, when nothing comes between.
  EntryOutcome DownloadEntry(FileEntry& entry, std::size_t index, const std::string& following);
  // Extracts the entry's archive into `extractTo`; shows what to do when that fails.
  bool ExtractEntry(const FileEntry& entry, const std::string& extractTo);

 private:
  // Ends the pass where it stands, with a status; Sync catches it. Deliberately no
  // std::exception, so that no step's failure handler takes it for a failure of its own.
  struct Stop {
    int Status;
  };

  // Lets the window deliver its input; an EXIT pressed before or meanwhile stops the pass.
  void Pump();
  // Stops the pass when EXIT was pressed: whatever the pass had reached, it did not complete.
  void StopIfExitRequested() const;
  // Puts what the pass leaves on disk (record, settings, log) in order and takes away what a
  // transfer or an extraction cut short left behind.
  PassOutcome Finish(int status);
  PassOutcome Run();
  std::string Caption() const;
  std::string ProductFolder() const;
  std::string RemoteManifest(const std::string& manifestName) const;
  void WaitForLauncher();
  // Why a server's manifest cannot be used.
  struct ManifestFailure {
    // It sent something else (an error page, garbage), or this machine could not keep it: shown
    // as a failure, not as a server that did not answer.
    bool NotAManifest = false;
    std::string Text;
  };
  // The manifest this machine takes: the product's own, or the fallback its rollout names.
  struct TakenManifest {
    std::string Name;
    std::filesystem::path Local;
    std::string Remote;
    FilesSettings Files;
    // Serial=, or the manifest's SHA-256 when it has none: what a failed release refuses.
    std::string Release;
    bool Hold = false;  // nothing of it is installed in this pass
  };
  std::string LocalManifest() const;
  bool Connect();
  // Opens the servers of Address in order until one serves the manifest; mServer then names it.
  // With several servers, each that fails is reported with its reason, and the one that serves
  // is named. Done also when a server answered but none served a manifest: the last such
  // failure is then reported as for one server, and mServer stays empty. Otherwise the last
  // connection failure.
  TransferResult ReachServer();
  // Downloads the manifest `name` from the server just opened into the product folder.
  std::optional<ManifestFailure> TakeManifest(const std::string& name);
  // The manifest `name` as downloaded.
  TakenManifest ReadManifest(const std::string& name) const;
  // False (refused, said) when a fallback whose name carries the start of its SHA-256 does not.
  bool FallbackIsTheNamedOne(const TakenManifest& fallback);
  // Where the manifest of that name on the server is kept while the pass reads it (native).
  std::filesystem::path LocalCopy(const std::string& name) const;
  // Which manifest this machine takes, by the rollout of the product's own: that one, its
  // fallback (downloaded and checked as the first), or none (Hold). Nothing when the pass ends
  // here: a manifest that cannot be used, or a fallback that is not there or not trusted.
  std::optional<TakenManifest> ChooseManifest();
  std::optional<TakenManifest> Unusable(const std::string& text);
  // Whether the machine refused `release` after it failed here.
  bool Refused(const std::string& release) const;
  // Starts the final program of a pass that installs nothing, when its file is there.
  void StartHeldProgram(const EntryTable& table, const FilesSettings& files);
  void ReportManifestFailure(const ManifestFailure& failure);
  // Every step of an entry to install, folded into its outcome.
  EntryOutcome InstallEntry(FileEntry& entry, std::size_t index, const std::string& following);
  // What the entry's download asks the server for and where it goes; throws RuntimeError for a
  // digest that is none.
  DownloadRequest EntryDownload(const FileEntry& entry) const;
  // Starts the workers that download ahead of the entry loop, when the pass has several files
  // to fetch and may use several connections.
  void StartDownloadsAhead(const EntryTable& table);
  // Sends the downloads of the entries from `index` on ahead, as far as the pool's width goes
  // and no further than an entry that may change what comes after it.
  void RunAhead(const EntryTable& table, std::size_t index);
  // Queues the entry's download, unless a check at its turn will refuse it anyway or it may
  // be made from a patch then.
  void SendAhead(const FileEntry& entry, std::size_t index);
  // Whether the entry may be made from one of its patches: it has patches and a digest to check
  // the result with, and its installed file `target` is a file (no link).
  static bool MayTakePatch(const FileEntry& entry, const std::filesystem::path& target);
  // When the installed file is the version one of the entry's patches starts from: fetches that
  // patch, makes the new file from it and gives it the target's name. True when the file is in
  // place; false when no patch fits, or the one that did failed (said why, nothing of it left):
  // the whole file is to be downloaded then.
  bool InstallFromPatch(const FileEntry& entry, const DownloadRequest& request);
  // The patch route's steps; throws RuntimeError with the reason it failed.
  void MakeFromPatch(const FileEntry& entry, const EntryDelta& delta,
                     const DownloadRequest& request);
  // Starts the entry's program and waits for it when asked; false when it could not start.
  // `soFar`: how the entry's download step ended.
  bool StartEntryProgram(const FileEntry& entry, EntryOutcome soFar);
  void ShowRebootPrompt(const FileEntry& entry, EntryOutcome soFar, InstallationRecord& record);
  // False when the registration failed (it is reported).
  bool Register(const FileEntry& entry);
  bool IsUpdaterItself(const FileEntry& entry) const;
  // The remote file of the next entry to download after entry `index`, when that entry's step
  // ends with its download (nothing started, registered or extracted after it): its request
  // can then go out while this entry's file is put on disk. Empty otherwise.
  std::string FollowingDownload(const EntryTable& table, std::size_t index) const;
  // The final program's process; nothing when nothing was started.
  std::optional<ProcessId> StartFinalProgram(const EntryTable& table, int index,
                                             const std::string& options,
                                             const std::string& executeText, bool executeIsNumber);
  // Finishes or undoes what a pass that died left in the product's backup folder; a release
  // a new updater took over stays for the manifest to decide.
  void FinishLastRelease();
  // Goes on with a release a new updater took over when the same release is taken again;
  // otherwise puts its files back.
  void TakeUpHandedOverRelease(const TakenManifest& taken);
  // With Verify=, keeps what the install replaces, so that a failed release can be put back.
  void BeginRelease(const TakenManifest& taken, const EntryTable& table);
  // Keeps `target` before the install replaces or creates it, when the release is kept.
  void KeepForRollback(const std::filesystem::path& target);
  // Watches the final program for `seconds`: one that fails puts the release back.
  void VerifyRelease(std::optional<ProcessId> program, const EntryTable& table,
                     const FilesSettings& files);
  // Refuses the release, puts its files back and ends with RolledBack.
  void RollBack(const std::string& reason);
  // Puts the kept files and record back and says `done`; false (said) when it could not.
  bool PutReleaseBack(const std::string& done);
  // What a pass that ends before its release was verified does with it.
  void EndRelease(int status);
  void Report(const std::string& line);
  // What the window and the log say of a failed transfer: a proxy's refusal names the proxy.
  static std::string FailureText(const TransferResult& result);
  // Reports a failure of the entry being installed, in the list and the log; the step that
  // failed says so in its outcome.
  void FailEntry(const std::string& description, const std::string& filename);
  // True when every file the entry would write lies in the prefix's drives or the application
  // folder; otherwise reports the entry.
  bool TargetsAllowed(const FileEntry& entry);
  // The first file the entry would write outside them; empty when there is none.
  std::string TargetOutside(const FileEntry& entry) const;
  bool IsWritablePlace(const std::filesystem::path& native) const;
  // Where a release's replaced files are kept (native); whether a native path (resolved, or as
  // written without links) lies there.
  std::filesystem::path BackupFolder() const;
  bool InBackup(const std::filesystem::path& native) const;
  // Takes away what killed passes left behind in the folders this pass works in.
  void RemoveStaleTemporaries(const EntryTable& table) const;
  // With a manifest key configured: the manifest carries a valid signature by that key and a
  // serial no lower than the highest one accepted before (which it then records). Otherwise
  // says why and refuses the pass.
  // `name`: the manifest's file name; a fallback's serial is kept apart from the product's own.
  bool ManifestTrusted(const std::filesystem::path& manifest, const std::string& remote,
                       const std::string& name);
  void RefuseManifest(const std::string& text);
  void DeleteOldFiles(const FileEntry& entry);
  std::filesystem::path Native(const std::string& path) const;
  // Starts a program; reports a start that fails (as a failure of the entry being installed)
  // and gives nothing back.
  std::optional<ProcessId> Start(const std::string& commandLine, WindowStyle style,
                                 const std::string& filename);

  PassEnvironment mEnv;
  std::unique_ptr<Downloader> mTransfer;
  // The options and the server of mTransfer, for the connections that download ahead.
  std::unique_ptr<FtpOptions> mTransferOptions;
  std::unique_ptr<DownloadPool> mAhead;
  std::size_t mAheadNext = 0;  // the first entry not yet looked at for running ahead
  // How long the last manifest took to arrive: what a file of that server takes, for a start.
  std::chrono::steady_clock::duration mManifestTime{};
  // The server that served the manifest: every later transfer of the pass goes to it.
  std::optional<ServerAddress> mServer;
  std::unique_ptr<Unzip32> mUnzip;
  PassLog mErrLog;
  std::unique_ptr<InstallationRecord> mRecord;
  // What the install keeps for putting a failed release back, and its journal.
  std::unique_ptr<ReleaseBackup> mRelease;
  // The backup folder as written and with its links resolved; again after an extraction, which
  // may make links.
  mutable std::optional<std::pair<std::string, std::string>> mBackupPlaces;
  std::string mReleaseName;  // the release being installed, as Serial= or SHA256=
  // The pass's status so far: what reaching the server and the manifest gave, then the fold of
  // the entries' outcomes and the final program's start.
  int mStatus = pass_status::Completed;
  // The launcher did not end in time: the updater's own file is not replaced in this pass.
  bool mLauncherHeld = false;
};

}  // namespace tandor
