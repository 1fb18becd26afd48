#include "sync/WritePolicy.h"

#include <sys/stat.h>

#include <vector>

#include "manifest/FileEntry.h"
#include "platform/Prefix.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Whether `path` is `folder` or lies below it, both taken as they are written.
bool LiesIn(const fs::path& path, const fs::path& folder) {
  const fs::path relative = path.lexically_normal().lexically_relative(folder.lexically_normal());
  return !relative.empty() && *relative.begin() != "..";
}

// Whether a part of `path` below `folder` (which holds it, as written) is a link. A part that
// does not exist ends the look: nothing below it exists either.
bool HasLinkBelow(const fs::path& folder, const fs::path& path) {
  fs::path at = folder.lexically_normal();
  for (const fs::path& part : path.lexically_normal().lexically_relative(at)) {
    if (part.empty() || part == ".") continue;
    at /= part;
    struct stat info {};
    if (::lstat(at.c_str(), &info) != 0) return false;
    if (S_ISLNK(info.st_mode)) return true;
  }
  return false;
}

}  // namespace

WritePolicy::WritePolicy(const Prefix& machine, fs::path appFolder, fs::path backupFolder)
    : mMachine(machine), mAppFolder(std::move(appFolder)), mBackupFolder(std::move(backupFolder)) {}

bool WritePolicy::IsWritablePlace(const fs::path& native) const {
  if (!native.is_absolute()) return false;
  fs::path place;  // the drive or the application folder that holds the path as it is written
  if (mMachine.HoldsPath(native)) {
    const fs::path root = mMachine.Root().lexically_normal();
    place = root / *native.lexically_normal().lexically_relative(root).begin();
  } else if (LiesIn(native, mAppFolder)) {
    place = mAppFolder;
  } else {
    return false;
  }
  if (InBackup(native)) return false;
  // A link on the way (one an archive made, or anybody's) must not carry the write elsewhere.
  // Mostly there is none below the place: one look at each part that exists tells so.
  if (!HasLinkBelow(place, native)) return true;
  // Else the path with every existing link resolved has to stay in the same place.
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(native, ec);
  if (ec) return false;
  const fs::path resolvedPlace = fs::weakly_canonical(place, ec);
  return !ec && LiesIn(resolved, resolvedPlace) && !InBackup(resolved);
}

bool WritePolicy::InBackup(const fs::path& native) const {
  // What lets a later pass undo an install is no place for what a manifest or archive brings.
  // Asked for every target: the folder, as written and resolved, is worked out once.
  if (!mBackupPlaces) {
    const fs::path backup = mBackupFolder.lexically_normal();
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(backup, ec);
    mBackupPlaces = {backup.native(), ec ? backup.native() : resolved.native()};
  }
  // Mostly the folder's name is not in the path at all.
  const auto named = [&native](const std::string& folder) {
    return native.native().find(folder.substr(folder.rfind('/') + 1)) != std::string::npos;
  };
  if (!named(mBackupPlaces->first) && !named(mBackupPlaces->second)) return false;
  const std::string path = native.lexically_normal().native();
  const auto under = [&path](const std::string& folder) {
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
  };
  return under(mBackupPlaces->first) || under(mBackupPlaces->second);
}

std::string WritePolicy::TargetOutside(const FileEntry& entry) const {
  std::vector<std::string> targets = {entry.LocalPath + "\\" + entry.Filename};
  // Most entries keep their name: one look at that path is enough.
  if (entry.Realname != entry.Filename) targets.push_back(entry.TargetPath());
  if (entry.Extract && !entry.ExtractTo.empty()) targets.push_back(entry.ExtractTo);
  for (const std::string& target : targets)
    if (!IsWritablePlace(mMachine.ToNative(target))) return target;
  return {};
}

}  // namespace tandor
