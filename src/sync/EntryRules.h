#pragma once
// What the update pass does with each manifest entry before installing anything: find the
// versions of the installed copy and decide whether the entry is installed in this pass.

#include <functional>
#include <string>
#include <vector>

#include "manifest/FileEntry.h"

namespace tandor {

class InstallationRecord;
class ManifestReader;
class Prefix;
class VersionInfoQuery;

// The machine's Allow/Block answer for an entry's lists: true when the entry applies here.
using AllowRule = std::function<bool(const std::string& allowList, const std::string& blockList)>;

class EntryRules {
 public:
  // `dataAccessVersion` is the installed data-access components' version ("?Error" when
  // unknown).
  EntryRules(const Prefix& prefix, VersionInfoQuery& versions, const InstallationRecord& record,
             std::string dataAccessVersion, AllowRule allow);

  // Fills InstalledFileVersion and InstalledProductVersion from LocalPath\Realname, falling
  // back to the installation record when the file yields none.
  void ReadInstalledVersions(FileEntry& entry);

  // Sets Download: the Allow/Block rule first, then the copy mode, then the missing-file rule.
  void Decide(FileEntry& entry) const;

  // True when the Windows-form path names an existing file (not a folder).
  bool FileExists(const std::string& path) const;

 private:
  bool CopyModeWantsInstall(const FileEntry& entry) const;
  bool FileIsMissing(const FileEntry& entry) const;

  const Prefix& mPrefix;
  VersionInfoQuery& mVersions;
  const InstallationRecord& mRecord;
  std::string mDataAccessVersion;
  AllowRule mAllow;
};

// A data-access components package: Realname matching "MDAC*" that is started ("Execute" 1).
bool IsDataAccessPackage(const FileEntry& entry);

struct EntryTable {
  std::vector<FileEntry> Entries;  // entry n of the manifest at index n - 1
  long DownloadCount = 0;
};

// Reads every entry of the manifest, finds its installed versions and decides it.
EntryTable BuildEntryTable(const ManifestReader& reader, EntryRules& rules);

}  // namespace tandor
