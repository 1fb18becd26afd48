#pragma once
// How an update pass fetches the file of each entry it installs: ahead of its turn on a
// worker's connection, announced while the entry before it is put on disk, made from a patch,
// or downloaded whole at its turn. Every rule that decides it is here.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tandor {

struct FileEntry;
struct PlannedEntry;

// What a worker that downloads ahead does with an entry's file.
enum class AheadFetch {
  None,     // nothing to fetch: the entry is not installed
  Refused,  // its turn refuses the entry (and says why): nobody fetches it
  AtTurn,   // its turn fetches it: a patch on the pass's own connection, the whole file if need be
  Ahead,    // a worker may download it before its turn
};

class FetchPolicy {
 public:
  // `isUpdater`: whether an entry is the updater's own file; `launcherHeld`: the launcher did
  // not end, so that file is not replaced in this pass.
  FetchPolicy(std::function<bool(const FileEntry&)> isUpdater, bool launcherHeld);

  // Whether downloads ahead may go past `entry` before its turn is over: not past a program the
  // pass waits for (it may change any file) nor past a new updater (it ends the pass).
  bool MayRunPast(const FileEntry& entry) const;
  // What a worker does with the entry's file. `targetOutside`: the entry would write outside the
  // writable places; `installed`: the native path of its installed file.
  AheadFetch Ahead(const PlannedEntry& planned, bool targetOutside,
                   const std::filesystem::path& installed) const;
  // The remote file of the next entry to download after entry `index`, when that entry's step
  // ends with its download (nothing started, registered or extracted after it): its request
  // can then go out while this entry's file is put on disk. Empty otherwise.
  std::string Following(const std::vector<PlannedEntry>& entries, std::size_t index) const;
  // Whether the entry may be made from one of its patches: it has patches and a digest to check
  // the result with, and its installed file `installed` (native) is a file (no link).
  static bool MayPatch(const FileEntry& entry, const std::filesystem::path& installed);

 private:
  std::function<bool(const FileEntry&)> mIsUpdater;
  bool mLauncherHeld;
};

}  // namespace tandor
