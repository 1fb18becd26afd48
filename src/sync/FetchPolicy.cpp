#include "sync/FetchPolicy.h"

#include <sys/stat.h>

#include <utility>

#include "manifest/FileEntry.h"
#include "sync/EntryRules.h"

namespace tandor {

FetchPolicy::FetchPolicy(std::function<bool(const FileEntry&)> isUpdater, bool launcherHeld)
    : mIsUpdater(std::move(isUpdater)), mLauncherHeld(launcherHeld) {}

bool FetchPolicy::MayRunPast(const FileEntry& entry) const {
  return !(!entry.Execute.empty() && entry.Wait) && !mIsUpdater(entry);
}

AheadFetch FetchPolicy::Ahead(const PlannedEntry& planned, bool targetOutside,
                              const std::filesystem::path& installed) const {
  const FileEntry& entry = planned.Entry;
  if (!planned.Download) return AheadFetch::None;
  // What its turn refuses is not fetched: it says so then.
  if ((mLauncherHeld && mIsUpdater(entry)) || targetOutside) return AheadFetch::Refused;
  // Its turn fetches the patch on the pass's own connection; the whole file only if need be.
  if (MayPatch(entry, installed)) return AheadFetch::AtTurn;
  return AheadFetch::Ahead;
}

std::string FetchPolicy::Following(const std::vector<PlannedEntry>& entries,
                                   std::size_t index) const {
  const FileEntry& entry = entries[index].Entry;
  if (!entries[index].Download || !entry.Execute.empty() || entry.SelfRegister || entry.Extract ||
      mIsUpdater(entry))
    return {};
  for (std::size_t next = index + 1; next < entries.size(); ++next) {
    if (!entries[next].Download) continue;
    const FileEntry& following = entries[next].Entry;
    // A download that may resume a kept part asks for its own range.
    if (!following.Sha256.empty()) return {};
    return following.ServerPath + "/" + following.Filename;
  }
  return {};
}

bool FetchPolicy::MayPatch(const FileEntry& entry, const std::filesystem::path& installed) {
  // Only a result that can be checked replaces a file; a link is nothing this program installed.
  struct stat info {};
  return !entry.Sha256.empty() && !entry.Deltas.empty() && ::lstat(installed.c_str(), &info) == 0 &&
         S_ISREG(info.st_mode);
}

}  // namespace tandor
