// The update pass's patch route: an entry whose installed file is an earlier version that one of
// its patches starts from is made from that patch instead of the whole file.

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>

#include "delta/Delta.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "sync/UpdatePass.h"
#include "transfer/Downloader.h"
#include "ui/Messages.h"
#include "util/Integrity.h"

namespace tandor {

namespace fs = std::filesystem;

bool UpdatePass::MayTakePatch(const FileEntry& entry, const fs::path& target) {
  // Only a result that can be checked replaces a file; a link is nothing this program installed.
  struct stat info {};
  return !entry.Sha256.empty() && !entry.Deltas.empty() && ::lstat(target.c_str(), &info) == 0 &&
         S_ISREG(info.st_mode);
}

bool UpdatePass::InstallFromPatch(const FileEntry& entry, const DownloadRequest& request) {
  if (!request.Sha256 || !MayTakePatch(entry, request.Target)) return false;
  const std::optional<Sha256Digest> installed = Sha256OfFile(request.Target);
  const auto delta = std::find_if(entry.Deltas.begin(), entry.Deltas.end(),
                                  [&](const EntryDelta& d) { return installed == d.Base; });
  if (delta == entry.Deltas.end()) return false;
  try {
    MakeFromPatch(entry, *delta, request);
    return true;
  } catch (const std::exception& error) {  // RuntimeError's what() is its description
    Report(msg::PatchUnusable(delta->Patch, error.what()));
  }
  return false;
}

void UpdatePass::MakeFromPatch(const FileEntry& entry, const EntryDelta& delta,
                               const DownloadRequest& request) {
  const fs::path& target = request.Target;
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(target, ec);
  SiblingFile patch(target);
  const TransferResult fetched =
      mTransfer->Download({.Target = patch.Path(),
                           .Remote = entry.ServerPath + "/" + delta.Patch,
                           .Limit = static_cast<std::int64_t>(MostPatchBytes(ec ? 0 : size))});
  if (!fetched.Done()) throw RuntimeError(err::PathFileAccess, FailureText(fetched));

  SiblingFile result(target);
  ApplyPatch(target, patch.Path(), result.Path(), FreeSpaceMarginOf(target.parent_path()),
             mEnv.FreeSpace);
  const std::optional<Sha256Digest> made = Sha256OfFile(result.Path());
  if (made != request.Sha256)
    throw RuntimeError(err::PathFileAccess, msg::PatchResultWrong(made ? Sha256Hex(*made) : "?"));
  result.RenameTo(target);
}

}  // namespace tandor
