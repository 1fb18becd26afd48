// Planning a publish: the key, the files, the folder as it is and the versions the files get.

#include <algorithm>
#include <set>
#include <system_error>

#include "manifest/ManifestRules.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "publisher/Destination.h"
#include "publisher/PublishSteps.h"
#include "text/TextCase.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Why a manifest's bytes cannot be edited and saved again; nothing when they can.
std::optional<std::string> ManifestProblem(const CodePage& codePage, const std::string& bytes) {
  // Saved again, a byte the code page has no character for would come out changed.
  if (codePage.FromUtf8(codePage.ToUtf8(bytes)) != bytes)
    return "it holds bytes that are no text of code page " + std::to_string(codePage.Number());
  return ManifestText(codePage.ToUtf8(bytes)).Problem();
}

}  // namespace

std::string PublishContext::ProductName() const {
  return Request.Product.empty() ? ProductOfFolder(Request.ProductFolder) : Request.Product;
}

bool FolderReading::Listed(const std::string& name) const {
  return std::find(Listing.begin(), Listing.end(), name) != Listing.end();
}

Step CheckKey(const PublishContext& context) {
  const auto refused = context.Manifests.CheckSigningKeys();
  if (!refused) return Done{};
  const std::string key = refused->first.string();
  if (refused->second == SigningKeyState::Shared)
    return PublishFailure{
        publish::CannotUse,
        key + ": others may read it; a secret key must be private: chmod 600 " + key};
  if (!ReadWholeFile(refused->first))
    return PublishFailure{publish::CannotUse, key + ": cannot be read"};
  return PublishFailure{publish::CannotUse, key + ": is no secret key of tandor-sign keygen"};
}

Result<std::vector<FilePlan>> PlanFiles(const PublishContext& context) {
  const PublishRequest& request = context.Request;
  std::vector<FilePlan> plans;
  std::set<std::string> names;
  for (const fs::path& file : request.Files) {
    FilePlan plan;
    plan.Local = file;
    plan.Name = ChooseUploadName(FileNameOfPath(file.string()), false).Name;
    if (EqualsIgnoreCase(plan.Name, request.ManifestName) ||
        EqualsIgnoreCase(plan.Name, request.ManifestName + ".sig"))
      return PublishFailure{publish::Usage, file.string() + ": the manifest is no file to publish"};
    // The entry names the file in the manifest's code page: a name that changes on the way
    // would be uploaded under a name no entry matches the next time.
    const CodePage& codePage = request.ManifestCodePage;
    if (codePage.ToUtf8(codePage.FromUtf8(plan.Name)) != plan.Name)
      return PublishFailure{publish::CannotUse, file.string() + ": " + plan.Name +
                                                    " cannot be written in code page " +
                                                    std::to_string(codePage.Number()) +
                                                    ", that of the manifest; rename the file"};
    if (!names.insert(LowerAscii(plan.Name)).second)
      return PublishFailure{publish::Usage, file.string() + ": a second file named " + plan.Name};
    try {
      plan.Versions = ReadPickedVersions(file, context.Query);
    } catch (const RuntimeError& error) {
      return PublishFailure{publish::CannotUse, error.Description()};
    }
    if (plan.Versions.Sha256.empty())
      return PublishFailure{publish::CannotUse, file.string() + ": cannot be read"};
    plans.push_back(std::move(plan));
  }
  return plans;
}

Result<FolderReading> ReadFolder(const PublishContext& context) {
  Destination& folder = context.Folder;
  const std::string& manifestName = context.Request.ManifestName;
  if (const std::optional<std::string> failure = folder.Open())
    return PublishFailure{publish::FolderFailed,
                          folder.Describe() + ": cannot be reached: " + *failure};
  const FetchedFile manifest = folder.Fetch(manifestName, context.Scratch);
  if (manifest.Result == FetchedFile::Kind::Failed)
    return PublishFailure{publish::FolderFailed,
                          manifestName + ": cannot be downloaded: " + manifest.Problem};
  std::string bytes;
  if (manifest.Result == FetchedFile::Kind::Fetched) {
    std::error_code error;
    if (fs::file_size(manifest.File, error) > static_cast<std::uintmax_t>(kManifestByteLimit))
      return PublishFailure{
          publish::FolderFailed,
          manifestName + ": larger than " + std::to_string(kManifestByteLimit >> 20) + " MiB"};
    const std::optional<std::string> read = ReadWholeFile(manifest.File);
    if (!read) return PublishFailure{publish::FolderFailed, manifestName + ": cannot be read"};
    bytes = *read;
  }
  const CodePage& codePage = context.Request.ManifestCodePage;
  if (const std::optional<std::string> problem = ManifestProblem(codePage, bytes))
    return PublishFailure{publish::FolderFailed,
                          manifestName + " cannot be parsed: " + *problem + "; nothing published"};
  ManifestText text(codePage.ToUtf8(bytes));
  if (Trim(text.Text()).empty()) text = ManifestText("[Files]");
  std::string problem;
  std::optional<std::vector<std::string>> names = folder.List(problem);
  if (!names)
    return PublishFailure{publish::FolderFailed,
                          folder.Describe() + ": cannot be listed: " + problem};
  return FolderReading{std::move(bytes), std::move(text), std::move(*names)};
}

void TakeEntryNames(std::vector<FilePlan>& plans, const ManifestText& manifest) {
  for (FilePlan& plan : plans) {
    if (const std::optional<std::size_t> entry = manifest.FindEntry(plan.Name))
      plan.Name = manifest.Value(*entry, "Filename");
  }
}

// Versions that machines comparing them with those of the entry see as they should: other
// bytes under the entry's versions would never reach them.
Result<PickedVersions> SettledVersions(const PublishContext& context, const FilePlan& plan,
                                       const ManifestText& manifest) {
  PickedVersions versions = plan.Versions;
  const std::optional<std::size_t> entry = manifest.FindEntry(plan.Name);
  if (!entry) return versions;
  const ListedVersions listed{manifest.Value(*entry, "File Version"),
                              manifest.Value(*entry, "Product Version"),
                              manifest.Value(*entry, "SHA256")};
  const std::string stamp = versions.FileStamped ? versions.FileVersion : versions.ProductVersion;
  if (const std::optional<std::string> problem =
          SettleVersions(versions, listed, plan.Local.string()))
    return PublishFailure{publish::CannotUse, *problem};
  const std::string settled = versions.FileStamped ? versions.FileVersion : versions.ProductVersion;
  if (settled != stamp && !EqualsIgnoreCase(listed.Sha256, versions.Sha256))
    context.Say(plan.Name + ": other bytes, but its time " + stamp +
                " is not newer than its entry's: version " + settled);
  return versions;
}

}  // namespace tandor
