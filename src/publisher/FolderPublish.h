#pragma once
// Publishing files into a product's server folder in one go, as tandor-publish does: the files,
// patches from the versions they replace, and the manifest with their entries, signed.
//
// The folder holds, besides the manifest and the files:
//   <name>.<first 16 hex digits of its SHA-256>.old     an earlier version of <name>, kept so
//                                                      that later versions get a patch from it
//   <name>.<first 16 hex digits of the base's SHA-256>.zpatch   a patch from that earlier
//                                                      version to the current <name>
//   <first 16 hex digits of a file's SHA-256>/   during a rollout, a file that the fallback
//                                                      lists with other bytes, and its patches;
//                                                      its entry's Server Path ends in the folder
// Every kept version has its patch listed in the entry of <name> as DeltaN=, unless the patch
// came out larger than half the file or than a machine holding that version fetches, or the
// entry lists kMostDeltas patches already. Kept versions rank by the entry's Delta lines (the
// version just replaced first, then the order of the last publish); one without a line (its
// patch was too large) ranks last.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "manifest/ManifestRules.h"
#include "manifest/SigningStamp.h"
#include "platform/CodePage.h"

namespace tandor {

class Destination;
class VersionInfoQuery;

// Exit statuses of a publish.
namespace publish {
constexpr int Published = 0;
constexpr int NotDone = 1;       // an upload or a removal failed part-way
constexpr int CannotUse = 2;     // a FILE or the key cannot be used, or a patch not made
constexpr int FolderFailed = 3;  // the folder cannot be reached or read, or its manifest parsed
constexpr int Usage = 64;
}  // namespace publish

// The name an earlier version of `name` is kept under, and a patch from it.
std::string KeptName(std::string_view name, std::string_view sha256Hex);
std::string PatchName(std::string_view name, std::string_view baseSha256Hex);
// Kept names in the order they serve as bases: those whose version `deltaBases` (the SHA-256
// of each Delta line, in order) lists come first in that order, then the rest by name.
std::vector<std::string> RankKept(std::vector<std::string> kept,
                                  const std::vector<std::string>& deltaBases);
// A patch is worth listing when it is at most half as large as the file it makes and no larger
// than a machine holding its base fetches.
bool PatchIsWorthIt(std::uintmax_t patchBytes, std::uintmax_t baseBytes, std::uintmax_t fileBytes);

struct PublishRequest {
  std::vector<std::filesystem::path> Files;
  // The secret keys that sign the manifest, one signature line each; none: it goes unsigned.
  std::vector<std::filesystem::path> SigningKeys;
  // Its expiry and the keys it announces or revokes, as the manifest is to say them.
  SigningStamp Stamp;
  std::string LocalPath = "$(AppPath)";
  std::string Product;  // empty: the last part of ProductFolder
  std::string ProductFolder;
  int Keep = 3;
  // The share of machines (0..99 below it) the new manifest goes to; the others keep the
  // previous full release. Nothing, or 100: a full release.
  std::optional<int> Rollout;
  std::string ManifestName;
  CodePage ManifestCodePage;
};

// Publishes `request` into `folder`, working in `scratch` (an empty folder of its own), and
// tells what it does and what fails through `say` and `complain`. Returns a status of
// `publish`. Nothing is uploaded unless every file, the key, the folder and its manifest can be
// used and every patch is made.
int PublishToFolder(Destination& folder, const PublishRequest& request, VersionInfoQuery& query,
                    const std::filesystem::path& scratch,
                    const std::function<void(const std::string&)>& say,
                    const std::function<void(const std::string&)>& complain);

}  // namespace tandor
