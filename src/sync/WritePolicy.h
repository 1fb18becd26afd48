#pragma once
// Where an update pass may write: the prefix's drives and the application folder, never the
// folder that keeps a release's replaced files, and never through a link that leads out of
// them. Whatever a manifest or an archive names is checked here before anything is written.

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace tandor {

struct FileEntry;
class Prefix;

class WritePolicy {
 public:
  // `appFolder` and `backupFolder` are native paths.
  WritePolicy(const Prefix& machine, std::filesystem::path appFolder,
              std::filesystem::path backupFolder);

  // Whether a file may be written at the native path `native`.
  bool IsWritablePlace(const std::filesystem::path& native) const;
  // Whether the native path (resolved, or as written without links) lies in the backup folder.
  bool InBackup(const std::filesystem::path& native) const;
  // The first file the entry would write outside the writable places; empty when there is none.
  std::string TargetOutside(const FileEntry& entry) const;
  // Links may have changed (an extraction makes them): the backup folder is resolved again.
  void LinksChanged() const { mBackupPlaces.reset(); }

 private:
  const Prefix& mMachine;
  std::filesystem::path mAppFolder;
  std::filesystem::path mBackupFolder;
  // The backup folder as written and with its links resolved, worked out at the first ask.
  mutable std::optional<std::pair<std::string, std::string>> mBackupPlaces;
};

}  // namespace tandor
