#include "publisher/FolderPublish.h"

#include "manifest/RenumberEntries.h"
#include "publisher/Destination.h"
#include "publisher/PublishSteps.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// The manifest as it goes up: the entries of the files and the rollout written into the text
// read, numbered, stamped and signed.
Result<std::string> WriteManifest(const PublishContext& context, const std::vector<FilePlan>& plans,
                                  ManifestText& manifest, const Rollout& rollout) {
  const PublishRequest& request = context.Request;
  for (const FilePlan& plan : plans) EditEntry(context, manifest, plan);
  EditRollout(context, manifest, rollout);
  const std::string text = RenumberEntries(manifest.Text());
  const std::string named = FilesValue(text, "Product");
  if (!named.empty() && !request.Product.empty() && named != request.Product)
    context.Say(request.ManifestName + ": keeps its own Product=" + named);
  const ManifestToSave prepared = context.Manifests.PrepareForSave(context.ProductName(), text);
  if (prepared.Reason == ManifestToSave::Why::SerialNotANumber)
    return PublishFailure{publish::FolderFailed,
                          request.ManifestName +
                              " cannot be parsed: its Serial= "
                              "is no number of at most 18 digits; nothing published"};
  if (!prepared.Text)
    return PublishFailure{publish::Usage,
                          "the product cannot be told from the folder: name it with "
                          "--product NAME"};
  return *prepared.Text;
}

// Each file's place in DEST, the versions it gets patches from and the patches.
Step PlanEachFile(const PublishContext& context, std::vector<FilePlan>& plans,
                  const FolderReading& reading, const Rollout& rollout) {
  for (FilePlan& plan : plans) {
    const FilePlace place = PlaceOf(plan, reading.Manifest, rollout);
    plan.Folder = place.Folder;
    plan.CurrentFolder = place.CurrentFolder;
    Result<KeptVersions> kept = PlanBases(context, plan, reading);
    if (!kept) return kept.Failure();
    plan.Bases = std::move(kept->Bases);
    plan.Stale = std::move(kept->Stale);
    plan.Unchanged = kept->Unchanged;
    Result<PatchesMade> patches = MakePatches(context, plan, reading, rollout);
    if (!patches) return patches.Failure();
    for (std::size_t i = 0; i < plan.Bases.size(); ++i) plan.Bases[i].Patch = patches->Listed[i];
    plan.Stale.insert(plan.Stale.end(), patches->Stale.begin(), patches->Stale.end());
  }
  return Done{};
}

// The publish, step by step; the first that fails ends it.
Step Publish(const PublishContext& context) {
  if (Step key = CheckKey(context); !key) return key;
  Result<std::vector<FilePlan>> plans = PlanFiles(context);
  if (!plans) return plans.Failure();
  Result<FolderReading> reading = ReadFolder(context);
  if (!reading) return reading.Failure();
  TakeEntryNames(*plans, reading->Manifest);
  for (FilePlan& plan : *plans) {
    Result<PickedVersions> settled = SettledVersions(context, plan, reading->Manifest);
    if (!settled) return settled.Failure();
    plan.Versions = std::move(*settled);
  }
  const Result<Rollout> rollout = PlanRollout(context, *reading);
  if (!rollout) return rollout.Failure();
  if (Step planned = PlanEachFile(context, *plans, *reading, *rollout); !planned) return planned;
  const Result<std::string> manifest = WriteManifest(context, *plans, reading->Manifest, *rollout);
  if (!manifest) return manifest.Failure();
  if (Step uploaded = Upload(context, *plans, *reading, *rollout, *manifest); !uploaded)
    return uploaded;
  return RemoveStale(context, *plans);
}

}  // namespace

int PublishToFolder(Destination& folder, const PublishRequest& request, VersionInfoQuery& query,
                    const fs::path& scratch, const std::function<void(const std::string&)>& say,
                    const std::function<void(const std::string&)>& complain) {
  Publisher manifests(scratch / request.ManifestName, request.ManifestName,
                      request.ManifestCodePage, FtpEvents{});
  manifests.SignWith(request.SigningKeys);
  manifests.StampWith(request.Stamp);
  manifests.StampUnsigned(true);
  const PublishContext context{folder, request, query, scratch, say, manifests};
  const Step published = Publish(context);
  if (!published) {
    complain(published.Failure().Text);
    for (const std::string& text : published.Failure().Then) complain(text);
  }
  folder.Close();
  return published ? publish::Published : published.Failure().Status;
}

}  // namespace tandor
