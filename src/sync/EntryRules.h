#pragma once
// What the update pass does with each manifest entry before installing anything: find the
// versions of the installed copy and decide whether the entry is installed in this pass.

#include <functional>
#include <string>
#include <vector>

#include "manifest/FileEntry.h"
#include "platform/CodePage.h"

namespace tandor {

class InstallationRecord;
class ManifestReader;
class Prefix;

// The versions of an entry's installed copy.
struct InstalledVersions {
  std::string File{};     // the four-part file version
  std::string Product{};  // the ProductVersion string, "?" when the version resource lacks it

  bool operator==(const InstalledVersions&) const = default;
};

// An entry as the pass plans it: the manifest's values, what is installed, and the decision.
struct PlannedEntry {
  FileEntry Entry{};
  InstalledVersions Installed{};
  bool Download = false;  // it is installed in this pass
};

// The machine's Allow/Block answer for an entry's lists: true when the entry applies here.
using AllowRule = std::function<bool(const std::string& allowList, const std::string& blockList)>;

class EntryRules {
 public:
  // `codePage` is the machine's ANSI code page, in which version strings are cut to 255 bytes;
  // `dataAccessVersion` is the installed data-access components' version ("?Error" when
  // unknown). Without `allow` every entry applies to this machine.
  EntryRules(const Prefix& prefix, CodePage codePage, const InstallationRecord& record,
             std::string dataAccessVersion, AllowRule allow);

  // The versions of LocalPath\Realname, each taken from the installation record when the file
  // yields none.
  InstalledVersions ReadInstalledVersions(const FileEntry& entry);

  // Whether the entry is installed: the Allow/Block rule first, then the copy mode, then the
  // missing-file rule.
  bool Decide(const FileEntry& entry, const InstalledVersions& installed) const;

  // True when the Windows-form path names an existing file (not a folder).
  bool FileExists(const std::string& path) const;

  // A machine that falls back to an older release holds that release's files, whatever their
  // versions say: an entry with SHA256= is installed over a file with other bytes (one the
  // machine took while it was in a larger rollout share, say), unless its copy mode keeps any
  // file that exists.
  void HoldToDigests(bool hold) { mHoldToDigests = hold; }

 private:
  bool CopyModeWantsInstall(const FileEntry& entry, const InstalledVersions& installed) const;
  bool FileIsMissing(const FileEntry& entry) const;
  bool InstalledBytesDiffer(const FileEntry& entry) const;

  const Prefix& mPrefix;
  CodePage mCodePage;
  const InstallationRecord& mRecord;
  std::string mDataAccessVersion;
  AllowRule mAllow;
  bool mHoldToDigests = false;
  // The installed file last looked at by ReadInstalledVersions and whether it existed, for the
  // Decide that follows it.
  mutable std::string mLastChecked;
  mutable bool mLastCheckedExists = false;
};

// A data-access components package: Realname matching "MDAC*" that is started ("Execute" 1).
bool IsDataAccessPackage(const FileEntry& entry);

struct EntryTable {
  std::vector<PlannedEntry> Entries;  // entry n of the manifest at index n - 1
  long DownloadCount = 0;
};

// Reads every entry of the manifest, finds its installed versions and decides it.
EntryTable BuildEntryTable(const ManifestReader& reader, EntryRules& rules);

}  // namespace tandor
