// A rollout: the manifest machines outside the share fall back to, and the folders of DEST that
// keep the files they hold where they were.

#include <algorithm>

#include "manifest/ManifestRules.h"
#include "platform/FileIo.h"
#include "publisher/Destination.h"
#include "publisher/PublishSteps.h"
#include "text/TextCase.h"
#include "util/Integrity.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// The folder of DEST that a rollout put a file into, as the end of its entry's Server Path: a
// last part of 16 hex digits; empty when there is none.
std::string RolloutFolderOf(std::string_view serverPath) {
  const std::size_t slash = serverPath.rfind('/');
  const std::string_view last = serverPath.substr(slash == std::string_view::npos ? 0 : slash + 1);
  if (slash == std::string_view::npos || !IsHexName(last)) return {};
  return std::string(last);
}

Result<Rollout> ReadFallback(const PublishContext& context, const std::string& name) {
  const FetchedFile fetched = context.Folder.Fetch(name, context.Scratch);
  const std::optional<std::string> bytes =
      fetched.Result == FetchedFile::Kind::Fetched ? ReadWholeFile(fetched.File) : std::nullopt;
  if (!bytes)
    return PublishFailure{publish::FolderFailed,
                          name + ": cannot be downloaded: " + fetched.Problem};
  return Rollout(Fallback{name, ManifestText(context.Request.ManifestCodePage.ToUtf8(*bytes))});
}

// Copies the current manifest and its signature into the scratch folder under the name they
// are kept under: uploaded before the new manifest, they are what it falls back to.
Result<Rollout> KeepCurrentRelease(const PublishContext& context, const FolderReading& reading) {
  const PublishRequest& request = context.Request;
  Sha256Stream stream;
  stream.Update(reading.Current.data(), reading.Current.size());
  Fallback kept{KeptReleaseName(request.ManifestName, Sha256Hex(stream.Final())),
                ManifestText(request.ManifestCodePage.ToUtf8(reading.Current))};
  const fs::path copy = context.Scratch / kept.Name;
  if (!WriteFileAtomically(copy, reading.Current))
    return PublishFailure{publish::CannotUse, copy.string() + ": cannot be written"};
  const std::string signature = request.ManifestName + ".sig";
  if (!reading.Listed(signature)) return Rollout(std::move(kept));
  const FetchedFile fetched = context.Folder.Fetch(signature, context.Scratch);
  if (fetched.Result != FetchedFile::Kind::Fetched)
    return PublishFailure{publish::FolderFailed,
                          signature + ": cannot be downloaded: " + fetched.Problem};
  std::error_code error;
  fs::copy_file(fetched.File, context.Scratch / (kept.Name + ".sig"),
                fs::copy_options::overwrite_existing, error);
  if (error)
    return PublishFailure{publish::CannotUse, signature + ": cannot be copied: " + error.message()};
  kept.Signed = true;
  return Rollout(std::move(kept));
}

}  // namespace

// The manifest machines outside the rollout take: the one a rollout in progress names, else
// the current full release, kept under a name of its own with its signature.
Result<Rollout> PlanRollout(const PublishContext& context, const FolderReading& reading) {
  if (!context.RollingOut()) return Rollout();
  const std::string& manifestName = context.Request.ManifestName;
  if (Trim(reading.Current).empty())
    return PublishFailure{publish::Usage,
                          manifestName +
                              ": not on the server yet, nothing to fall back to; publish "
                              "a full release first (without --rollout)"};
  const std::size_t settings = reading.Manifest.SettingsSection().value_or(0);
  const std::string rollout = reading.Manifest.Value(settings, "Rollout");
  const std::string fallback = reading.Manifest.Value(settings, "Fallback");
  if (!fallback.empty()) {
    if (!reading.Listed(fallback))
      return PublishFailure{publish::FolderFailed, fallback + ": the fallback that " +
                                                       manifestName + " names is not there"};
    context.Say(manifestName + ": a rollout in progress, keeps Fallback=" + fallback);
    return ReadFallback(context, fallback);
  }
  if (!rollout.empty())
    return PublishFailure{publish::FolderFailed,
                          manifestName + ": Rollout=" + rollout +
                              " without Fallback=: no full release to fall back to"};
  return KeepCurrentRelease(context, reading);
}

// During a rollout, a file that its fallback lists with other bytes goes into a folder of its
// own, named by its SHA-256, so that the machines that fall back find theirs where it was.
FilePlace PlaceOf(const FilePlan& plan, const ManifestText& manifest, const Rollout& rollout) {
  FilePlace place;
  if (const std::optional<std::size_t> entry = manifest.FindEntry(plan.Name))
    place.CurrentFolder = RolloutFolderOf(manifest.Value(*entry, "Server Path"));
  if (!rollout) return place;
  const std::optional<std::size_t> listed = rollout->Manifest.FindEntry(plan.Name);
  if (listed && LowerAscii(rollout->Manifest.Value(*listed, "SHA256")) != plan.Versions.Sha256)
    place.Folder = HexInName(plan.Versions.Sha256);
  return place;
}

// A patch of the file that the fallback of a rollout lists stays while the fallback does.
bool FallbackLists(const Rollout& rollout, const FilePlan& plan, const std::string& patch) {
  if (!rollout) return false;
  const std::optional<std::size_t> entry = rollout->Manifest.FindEntry(plan.Name);
  if (!entry) return false;
  const auto lines = DeltaLines(rollout->Manifest, *entry);
  return std::any_of(lines.begin(), lines.end(),
                     [&](const auto& line) { return line.second == patch; });
}

void EditRollout(const PublishContext& context, ManifestText& manifest, const Rollout& rollout) {
  const std::size_t settings = manifest.SettingsSection().value_or(0);
  manifest.RemoveKeys(settings, [](std::string_view key) {
    return EqualsIgnoreCase(key, "Rollout") || EqualsIgnoreCase(key, "Fallback");
  });
  if (!rollout) return;
  manifest.SetValue(settings, "Rollout", std::to_string(*context.Request.Rollout));
  manifest.SetValue(settings, "Fallback", rollout->Name);
}

std::string ServerPathIn(const std::string& serverPath, const std::string& folder) {
  const std::string named = RolloutFolderOf(serverPath);
  const std::string dest =
      serverPath.substr(0, serverPath.size() - (named.empty() ? 0 : named.size() + 1));
  return folder.empty() ? dest : dest + "/" + folder;
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

}  // namespace tandor
