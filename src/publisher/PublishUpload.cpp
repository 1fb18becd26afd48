// Putting a publish into the folder: files and patches under names no client asks for, then
// into place, then the manifest, and what it no longer names removed.

#include "manifest/RenumberEntries.h"
#include "publisher/Destination.h"
#include "publisher/PublishSteps.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

const char* const kNotReplaced = "; the manifest was not replaced";

Step Put(const PublishContext& context, const fs::path& local, const std::string& name) {
  if (const std::optional<std::string> failure = context.Folder.Put(local, name))
    return PublishFailure{publish::NotDone, name + ": upload failed: " + *failure + kNotReplaced};
  context.Say("uploaded " + name);
  return Done{};
}

Step Stage(const PublishContext& context, const fs::path& local, const std::string& name,
           std::vector<std::string>& staged) {
  if (const std::optional<std::string> failure = context.Folder.Stage(local, name))
    return PublishFailure{publish::NotDone, name + ": upload failed: " + *failure + kNotReplaced};
  staged.push_back(name);
  context.Say("uploaded " + name);
  return Done{};
}

// Patches and files go up under names no client asks for and only once all are up do they
// take their names, right before the manifest: a failure part-way leaves what the live
// manifest lists as it was.
Step StageAll(const PublishContext& context, const std::vector<FilePlan>& plans,
              const FolderReading& reading, std::vector<std::string>& staged) {
  for (const FilePlan& plan : plans) {
    if (!plan.Folder.empty()) {
      if (const std::optional<std::string> failure = context.Folder.MakeFolder(plan.Folder))
        return PublishFailure{publish::NotDone,
                              plan.Folder + ": folder not made: " + *failure + kNotReplaced};
    }
    for (const Base& base : plan.Bases) {
      const std::string kept = KeptName(plan.Name, base.Sha256);
      if (base.JustReplaced && !reading.Listed(kept)) {
        if (Step put = Put(context, base.File, kept); !put) return put;
      }
      if (!base.Patch.empty()) {
        if (Step put = Stage(context, context.Scratch / base.Patch,
                             InFolder(plan.Folder, base.Patch), staged);
            !put)
          return put;
      }
    }
    if (plan.Unchanged) {
      context.Say(plan.Name + ": the folder holds this version already");
    } else if (Step put = Stage(context, plan.Local, InFolder(plan.Folder, plan.Name), staged);
               !put) {
      return put;
    }
  }
  return Done{};
}

// The kept release goes up before the manifest that names it; one kept already stays.
Step UploadFallback(const PublishContext& context, const FolderReading& reading,
                    const Rollout& rollout) {
  if (!rollout || reading.Listed(rollout->Name) || !fs::exists(context.Scratch / rollout->Name))
    return Done{};
  if (Step put = Put(context, context.Scratch / rollout->Name, rollout->Name); !put) return put;
  return rollout->Signed
             ? Put(context, context.Scratch / (rollout->Name + ".sig"), rollout->Name + ".sig")
             : Step(Done{});
}

Step SettleAll(const PublishContext& context, std::vector<std::string>& staged) {
  while (!staged.empty()) {
    const std::string& name = staged.front();
    if (const std::optional<std::string> failure = context.Folder.Settle(name))
      return PublishFailure{publish::NotDone,
                            name + ": not renamed into place: " + *failure + kNotReplaced};
    staged.erase(staged.begin());
  }
  return Done{};
}

// What went up and did not take its name goes again; what cannot be removed is told.
std::vector<std::string> Unstage(const PublishContext& context,
                                 const std::vector<std::string>& staged) {
  std::vector<std::string> left;
  for (const std::string& name : staged) {
    if (const std::optional<std::string> failure = context.Folder.Remove(StagedName(name)))
      left.push_back(StagedName(name) + ": not removed: " + *failure);
  }
  return left;
}

}  // namespace

// Files first and the manifest last: a client never reads of a file that is not there yet.
Step Upload(const PublishContext& context, const std::vector<FilePlan>& plans,
            const FolderReading& reading, const Rollout& rollout, const std::string& manifest) {
  std::vector<std::string> staged;  // up under StagedName, not yet renamed into place
  Step placed = StageAll(context, plans, reading, staged);
  if (placed) placed = UploadFallback(context, reading, rollout);
  if (placed) placed = SettleAll(context, staged);
  if (!placed) {
    PublishFailure failure = placed.Failure();
    failure.Then = Unstage(context, staged);
    return failure;
  }
  const std::string& manifestName = context.Request.ManifestName;
  if (const std::optional<SaveFailure> failure = context.Manifests.Save(context.Folder, manifest)) {
    if (failure->ManifestUp)
      return PublishFailure{publish::NotDone,
                            manifestName + " went up, but " + manifestName +
                                ".sig did not: " + failure->Text +
                                "; machines with a manifest key refuse the new manifest until it "
                                "is published again"};
    return PublishFailure{publish::NotDone, manifestName + ": upload failed: " + failure->Text};
  }
  context.Say("uploaded " + manifestName + " (Serial=" + FilesValue(manifest, "Serial") +
              ", Product=" + FilesValue(manifest, "Product") +
              (context.Request.SigningKeys.empty() ? ", unsigned)" : ", signed)"));
  return Done{};
}

// What the new manifest no longer names goes once it is up.
Step RemoveStale(const PublishContext& context, const std::vector<FilePlan>& plans) {
  std::vector<std::string> left;
  for (const FilePlan& plan : plans) {
    for (const std::string& name : plan.Stale) {
      if (const std::optional<std::string> failure = context.Folder.Remove(name))
        left.push_back(name + ": not removed: " + *failure);
      else
        context.Say("removed " + name);
    }
  }
  if (left.empty()) return Done{};
  PublishFailure failure{publish::NotDone, left.front()};
  failure.Then.assign(left.begin() + 1, left.end());
  return failure;
}

}  // namespace tandor
