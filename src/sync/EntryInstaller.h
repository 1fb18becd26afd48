#pragma once
// An update pass's steps for one entry it installs: fetch the file (ahead of its turn, from a
// patch, or whole), extract it, start its program, register it; folded into the entry's outcome.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "sync/FetchPolicy.h"
#include "transfer/DownloadRequest.h"

namespace tandor {

class DownloadPool;
struct DownloadRequest;
struct EntryDelta;
struct EntryTable;
struct FileEntry;
class InstallationRecord;
struct PlannedEntry;
struct PassContext;
class ReleaseGuard;
class Unzip32;
class WritePolicy;

// How the installation of one entry ended; a later value is worse than an earlier one.
enum class EntryOutcome {
  Installed,  // every step succeeded: the record notes the entry
  Failed,     // a step failed: the record keeps what it said, and the pass fails
  Abandoned,  // it failed before or in its download step: nor is it started at the end
};

class EntryInstaller {
 public:
  EntryInstaller(PassContext& pass, WritePolicy& writes, ReleaseGuard& release,
                 InstallationRecord& record);
  ~EntryInstaller();
  EntryInstaller(const EntryInstaller&) = delete;
  EntryInstaller& operator=(const EntryInstaller&) = delete;

  // Every step of an entry to install, folded into its outcome. `index`: the entry's place in
  // the manifest, under which its download may have run ahead; `following`: the remote file the
  // pass downloads next, when nothing comes between. Stops the pass while the entry's program
  // is open.
  EntryOutcome Install(const FileEntry& entry, std::size_t index, const std::string& following);

  // Starts the workers that download ahead of the entry loop, when the pass has several files
  // to fetch and may use several connections.
  void StartDownloadsAhead(const EntryTable& table);
  // Sends the downloads of the entries from `index` on ahead, as far as the pool's width goes
  // and no further than an entry that may change what comes after it.
  void RunAhead(const EntryTable& table, std::size_t index);
  // The remote file whose request may go out while entry `index`'s file is put on disk; none
  // while downloads run ahead (the next one is theirs).
  std::string Following(const EntryTable& table, std::size_t index) const;
  // Forgets what was sent ahead for entry `index` (one that failed before its download).
  void Done(std::size_t index);
  // Stops the workers; what they fetched for nothing goes.
  void StopDownloadsAhead();

 private:
  bool TargetsAllowed(const FileEntry& entry);
  void DeleteOldFiles(const FileEntry& entry);
  // The download step: folder, transfer, log lines, extraction. Failed when the transfer
  // failed, Abandoned when the step ended in its failure handler.
  EntryOutcome Download(const FileEntry& entry, std::size_t index, const std::string& following);
  // Extracts the entry's archive into `extractTo`; shows what to do when that fails.
  bool Extract(const FileEntry& entry, const std::string& extractTo);
  // Starts the entry's program and waits for it when asked; false when it could not start.
  // `soFar`: how the entry's download step ended.
  bool StartProgram(const FileEntry& entry, EntryOutcome soFar);
  void ShowRebootPrompt(const FileEntry& entry, EntryOutcome soFar);
  // False when the registration failed (it is reported).
  bool Register(const FileEntry& entry);
  // What the entry's download asks the server for and where it goes; throws RuntimeError for a
  // size or a digest that is none.
  DownloadRequest Request(const FileEntry& entry) const;
  // Queues the entry's download, unless a check at its turn will refuse it anyway or it may
  // be made from a patch then.
  void SendAhead(const PlannedEntry& planned, std::size_t index);
  // When the installed file is the version one of the entry's patches starts from: fetches that
  // patch, makes the new file from it and gives it the target's name. True when the file is in
  // place; false when no patch fits, or the one that did failed (said why, nothing of it left):
  // the whole file is to be downloaded then.
  bool InstallFromPatch(const FileEntry& entry, const DownloadRequest& request);
  // The whole file on the pass's own connection. When the disk has too little room for it while
  // files fetched ahead hold theirs, or the server turns it away for its load while workers hold
  // connections, those files go, downloads ahead end, and it is tried once more: running ahead
  // never costs an entry what one download at a time would have had.
  TransferResult DownloadAtTurn(const FileEntry& entry, const DownloadRequest& request);
  // The patch route's steps; throws RuntimeError with the reason it failed.
  void MakeFromPatch(const FileEntry& entry, const EntryDelta& delta,
                     const DownloadRequest& request);

  PassContext& mPass;
  WritePolicy& mWrites;
  ReleaseGuard& mRelease;
  InstallationRecord& mRecord;
  FetchPolicy mFetch;
  std::unique_ptr<Unzip32> mUnzip;
  std::unique_ptr<DownloadPool> mAhead;
  std::size_t mAheadNext = 0;  // the first entry not yet looked at for running ahead
};

}  // namespace tandor
