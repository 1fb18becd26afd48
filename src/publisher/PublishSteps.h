#pragma once
// The steps of a publish into a folder (FolderPublish.h): each returns what it made, or why the
// publish stops. PublishToFolder runs them one after another.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "publisher/FolderPublish.h"
#include "publisher/ManifestText.h"
#include "publisher/Publisher.h"

namespace tandor {

class Destination;
class VersionInfoQuery;

// Why a publish stops: the status it ends with and what it says, then what went wrong while
// taking back what had gone up.
struct PublishFailure {
  int Status = publish::NotDone;
  std::string Text{};
  std::vector<std::string> Then{};
};

// What a step made, or why the publish stops.
template <typename T>
class Result {
 public:
  Result(T value) : mValue(std::move(value)) {}
  Result(PublishFailure failure) : mValue(std::move(failure)) {}

  explicit operator bool() const { return mValue.index() == 0; }
  T& operator*() { return std::get<0>(mValue); }
  const T& operator*() const { return std::get<0>(mValue); }
  T* operator->() { return &std::get<0>(mValue); }
  const T* operator->() const { return &std::get<0>(mValue); }
  const PublishFailure& Failure() const { return std::get<1>(mValue); }

 private:
  std::variant<T, PublishFailure> mValue;
};

// What a step that only does something makes.
struct Done {};
using Step = Result<Done>;

// What every step works with.
struct PublishContext {
  Destination& Folder;
  const PublishRequest& Request;
  VersionInfoQuery& Query;
  std::filesystem::path Scratch{};
  const std::function<void(const std::string&)>& Say;
  Publisher& Manifests;  // signs and saves the manifest

  // The product the manifest is for: the one named, else the last part of the folder.
  std::string ProductName() const;
  bool RollingOut() const { return Request.Rollout && *Request.Rollout < 100; }
};

// An earlier version of a file that gets a patch to the new one and is kept for the next.
struct Base {
  std::string Sha256{};
  std::filesystem::path File{};  // a local copy that can be read
  bool JustReplaced = false;     // the file the new one replaces: kept from now on
  std::string Patch{};           // the patch's name when it is worth listing
};

// What happens to one FILE.
struct FilePlan {
  std::filesystem::path Local{};
  std::string Name{};           // under which it is uploaded
  std::string Folder{};         // the folder of DEST it goes into; empty: DEST itself
  std::string CurrentFolder{};  // the folder of DEST the entry names now
  PickedVersions Versions{};
  bool Unchanged = false;  // the folder holds it byte for byte already
  std::vector<Base> Bases{};
  std::vector<std::string> Stale{};  // kept versions and patches of it that go
};

// The folder as the publish found it.
struct FolderReading {
  std::string Current{};  // the manifest's bytes; empty when there is none
  ManifestText Manifest;  // its text, to be edited
  std::vector<std::string> Listing{};

  bool Listed(const std::string& name) const;
};

// The manifest machines outside a rollout take.
struct Fallback {
  std::string Name{};
  ManifestText Manifest;
  bool Signed = false;  // the kept release has its signature beside it
};
using Rollout = std::optional<Fallback>;  // nothing: a full release

// Where a file goes in DEST.
struct FilePlace {
  std::string Folder{};
  std::string CurrentFolder{};
};

// The versions of a file in the folder: those it gets patches from, and those that go.
struct KeptVersions {
  std::vector<Base> Bases{};
  std::vector<std::string> Stale{};
  bool Unchanged = false;
};

// The patch listed for each base (empty: none), and the patches that go.
struct PatchesMade {
  std::vector<std::string> Listed{};
  std::vector<std::string> Stale{};
};

// Planning, and reading the folder (PublishPlan.cpp).
Step CheckKey(const PublishContext& context);
Result<std::vector<FilePlan>> PlanFiles(const PublishContext& context);
Result<FolderReading> ReadFolder(const PublishContext& context);
// A file goes up under the name its entry gives it, in that letter case.
void TakeEntryNames(std::vector<FilePlan>& plans, const ManifestText& manifest);
Result<PickedVersions> SettledVersions(const PublishContext& context, const FilePlan& plan,
                                       const ManifestText& manifest);

// A rollout (PublishRollout.cpp).
Result<Rollout> PlanRollout(const PublishContext& context, const FolderReading& reading);
FilePlace PlaceOf(const FilePlan& plan, const ManifestText& manifest, const Rollout& rollout);
bool FallbackLists(const Rollout& rollout, const FilePlan& plan, const std::string& patch);
void EditRollout(const PublishContext& context, ManifestText& manifest, const Rollout& rollout);
// `serverPath` naming `folder` of DEST (DEST itself when it is empty) in place of any folder
// of a rollout it names.
std::string ServerPathIn(const std::string& serverPath, const std::string& folder);
// `name` in `folder` of DEST, or in DEST itself when `folder` is empty.
std::string InFolder(const std::string& folder, const std::string& name);

// Kept versions and patches (PublishPatches.cpp).
// The base (the SHA-256 in lower case) and the patch of each Delta line of `entry`, in order.
std::vector<std::pair<std::string, std::string>> DeltaLines(const ManifestText& manifest,
                                                            std::size_t entry);
Result<KeptVersions> PlanBases(const PublishContext& context, const FilePlan& plan,
                               const FolderReading& reading);
Result<PatchesMade> MakePatches(const PublishContext& context, const FilePlan& plan,
                                const FolderReading& reading, const Rollout& rollout);
void EditEntry(const PublishContext& context, ManifestText& manifest, const FilePlan& plan);

// Upload and clean-up (PublishUpload.cpp).
Step Upload(const PublishContext& context, const std::vector<FilePlan>& plans,
            const FolderReading& reading, const Rollout& rollout, const std::string& manifest);
Step RemoveStale(const PublishContext& context, const std::vector<FilePlan>& plans);

}  // namespace tandor
