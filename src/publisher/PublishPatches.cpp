// Kept versions of a file and the patches from them to the new one.

#include <algorithm>
#include <system_error>

#include "delta/Delta.h"
#include "manifest/ManifestRules.h"
#include "platform/Error.h"
#include "publisher/Destination.h"
#include "publisher/PublishSteps.h"
#include "text/TextCase.h"
#include "util/Integrity.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kKeptSuffix = ".old";
constexpr std::string_view kPatchSuffix = ".zpatch";

std::optional<std::string> Sha256HexOf(const fs::path& file) {
  if (const std::optional<Sha256Digest> digest = Sha256OfFile(file)) return Sha256Hex(*digest);
  return std::nullopt;
}

// The bases of each Delta line of the file's entry, in order.
std::vector<std::string> DeltaBases(const FilePlan& plan, const ManifestText& manifest) {
  std::vector<std::string> bases;
  if (const std::optional<std::size_t> entry = manifest.FindEntry(plan.Name))
    for (const auto& [base, patch] : DeltaLines(manifest, *entry)) bases.push_back(base);
  return bases;
}

// Takes `base` as a base unless there are enough, it is the new file or taken already.
bool TakeBase(KeptVersions& kept, const FilePlan& plan, int keep, Base base) {
  if (static_cast<int>(kept.Bases.size()) >= keep) return false;
  if (base.Sha256 == plan.Versions.Sha256) return false;
  for (const Base& taken : kept.Bases)
    if (taken.Sha256 == base.Sha256) return false;
  kept.Bases.push_back(std::move(base));
  return true;
}

bool KeptOfTakenBase(const KeptVersions& kept, const FilePlan& plan, const std::string& name) {
  return std::any_of(kept.Bases.begin(), kept.Bases.end(),
                     [&](const Base& base) { return KeptName(plan.Name, base.Sha256) == name; });
}

}  // namespace

std::vector<std::pair<std::string, std::string>> DeltaLines(const ManifestText& manifest,
                                                            std::size_t entry) {
  std::vector<std::pair<std::string, std::string>> lines;
  for (int n = 1; n <= kMostDeltas; ++n) {
    const std::string value = manifest.Value(entry, "Delta" + std::to_string(n));
    const std::size_t comma = value.find(',');
    if (!value.empty())
      lines.emplace_back(LowerAscii(Trim(value.substr(0, comma))),
                         comma == std::string::npos ? "" : Trim(value.substr(comma + 1)));
  }
  return lines;
}

Result<KeptVersions> PlanBases(const PublishContext& context, const FilePlan& plan,
                               const FolderReading& reading) {
  Destination& folder = context.Folder;
  const int keep = context.Request.Keep;
  KeptVersions kept;
  // The versions machines hold now: the one in the folder the entry names, and the one in DEST
  // (which machines outside a rollout take).
  std::vector<std::string> current;
  if (!plan.CurrentFolder.empty()) current.push_back(InFolder(plan.CurrentFolder, plan.Name));
  if (reading.Listed(plan.Name)) current.push_back(plan.Name);
  for (const std::string& name : current) {
    const FetchedFile fetched = folder.Fetch(name, context.Scratch);
    if (fetched.Result == FetchedFile::Kind::Missing) continue;
    if (fetched.Result != FetchedFile::Kind::Fetched)
      return PublishFailure{publish::FolderFailed,
                            name + ": cannot be downloaded: " + fetched.Problem};
    const std::optional<std::string> sha = Sha256HexOf(fetched.File);
    if (!sha)
      return PublishFailure{publish::FolderFailed, fetched.File.string() + ": cannot be read"};
    if (name == InFolder(plan.Folder, plan.Name)) kept.Unchanged = *sha == plan.Versions.Sha256;
    TakeBase(kept, plan, keep, {*sha, fetched.File, true, {}});
  }
  std::vector<std::string> names;
  for (const std::string& name : reading.Listing) {
    if (HexOfName(name, plan.Name, kKeptSuffix)) names.push_back(name);
  }
  for (const std::string& name : RankKept(names, DeltaBases(plan, reading.Manifest))) {
    // The version just replaced may be kept already, by a publish that failed after it went
    // up: it is the base taken, and stays.
    if (KeptOfTakenBase(kept, plan, name)) continue;
    if (static_cast<int>(kept.Bases.size()) >= keep) {
      kept.Stale.push_back(name);
      continue;
    }
    const FetchedFile old = folder.Fetch(name, context.Scratch);
    if (old.Result != FetchedFile::Kind::Fetched)
      return PublishFailure{publish::FolderFailed, name + ": cannot be downloaded: " + old.Problem};
    const std::optional<std::string> sha = Sha256HexOf(old.File);
    if (!sha) return PublishFailure{publish::FolderFailed, old.File.string() + ": cannot be read"};
    // A kept version whose bytes do not match its name is damaged: it goes.
    if (HexInName(*sha) != *HexOfName(name, plan.Name, kKeptSuffix) ||
        !TakeBase(kept, plan, keep, {*sha, old.File, false, {}}))
      kept.Stale.push_back(name);
  }
  return kept;
}

Result<PatchesMade> MakePatches(const PublishContext& context, const FilePlan& plan,
                                const FolderReading& reading, const Rollout& rollout) {
  std::error_code error;
  const std::uintmax_t fileBytes = fs::file_size(plan.Local, error);
  PatchesMade made;
  int listed = 0;
  for (const Base& base : plan.Bases) {
    std::string& patch = made.Listed.emplace_back();
    const std::string name = PatchName(plan.Name, base.Sha256);
    // A machine reads no Delta line past the last an entry may carry: no patch for one.
    if (listed == kMostDeltas) {
      context.Say(plan.Name + ": patch from " + HexInName(base.Sha256) +
                  " not listed: machines read at most " + std::to_string(kMostDeltas) +
                  " Delta lines");
      continue;
    }
    PatchMade patchMade;
    try {
      patchMade = CreatePatch(base.File, plan.Local, context.Scratch / name);
    } catch (const RuntimeError& error) {
      return PublishFailure{publish::CannotUse, name + ": patch not made: " + error.Description()};
    }
    std::error_code patchError, baseError;
    const std::uintmax_t patchBytes = fs::file_size(context.Scratch / name, patchError);
    const std::uintmax_t baseBytes = fs::file_size(base.File, baseError);
    if (!patchError && !baseError && PatchIsWorthIt(patchBytes, baseBytes, fileBytes)) {
      patch = name;
      ++listed;
      context.Say(plan.Name + ": patch from " + HexInName(base.Sha256) + " (" +
                  std::to_string(patchBytes) + " bytes, " + patchMade.Method + ")");
    } else {
      context.Say(
          plan.Name + ": patch from " + HexInName(base.Sha256) +
          " not listed: " + std::to_string(patchBytes) +
          " bytes, more than half the file or than a machine fetches for a patch from its " +
          std::to_string(baseBytes) + " bytes");
    }
  }
  for (const std::string& name : reading.Listing) {
    const bool isListed =
        std::find(made.Listed.begin(), made.Listed.end(), name) != made.Listed.end();
    if (HexOfName(name, plan.Name, kPatchSuffix) && !isListed &&
        !FallbackLists(rollout, plan, name))
      made.Stale.push_back(name);
  }
  return made;
}

void EditEntry(const PublishContext& context, ManifestText& manifest, const FilePlan& plan) {
  std::optional<std::size_t> entry = manifest.FindEntry(plan.Name);
  if (!entry) {
    EntryChoices choices;
    choices.ServerPath = "$Root/" + context.ProductName();
    choices.LocalPath = context.Request.LocalPath;
    choices.CopyMode = "Normal";
    entry = manifest.Append(EntryText(FileNameOfPath(plan.Local.string()), plan.Versions, choices));
    manifest.SetValue(*entry, "FileName", plan.Name);  // the updater's substitute name
    context.Say(plan.Name + ": new entry");
  }
  const std::string path = manifest.Value(*entry, "Server Path");
  if (const std::string wanted = ServerPathIn(path, plan.Folder); wanted != path)
    manifest.SetValue(*entry, "Server Path", wanted);
  manifest.SetValue(*entry, "File Version", plan.Versions.FileVersion);
  manifest.SetValue(*entry, "Product Version", plan.Versions.ProductVersion);
  manifest.SetValue(*entry, "SHA256", plan.Versions.Sha256);
  manifest.SetValue(*entry, "Size", std::to_string(plan.Versions.Size), "SHA256");
  manifest.RemoveKeys(*entry, IsDeltaKey);
  int number = 0;
  for (const Base& base : plan.Bases) {
    if (!base.Patch.empty())
      manifest.SetValue(*entry, "Delta" + std::to_string(++number), base.Sha256 + "," + base.Patch);
  }
}

std::string KeptName(std::string_view name, std::string_view sha256Hex) {
  return std::string(name) + "." + HexInName(sha256Hex) + std::string(kKeptSuffix);
}

std::string PatchName(std::string_view name, std::string_view baseSha256Hex) {
  return std::string(name) + "." + HexInName(baseSha256Hex) + std::string(kPatchSuffix);
}

std::vector<std::string> RankKept(std::vector<std::string> kept,
                                  const std::vector<std::string>& deltaBases) {
  const auto rank = [&](const std::string& name) {
    const std::string hex = name.substr(name.size() - kKeptSuffix.size() - kHexInName, kHexInName);
    for (std::size_t i = 0; i < deltaBases.size(); ++i)
      if (deltaBases[i].starts_with(hex)) return i;
    return deltaBases.size();
  };
  std::stable_sort(kept.begin(), kept.end(), [&](const std::string& a, const std::string& b) {
    const std::size_t ra = rank(a), rb = rank(b);
    return ra != rb ? ra < rb : a < b;
  });
  return kept;
}

bool PatchIsWorthIt(std::uintmax_t patchBytes, std::uintmax_t baseBytes, std::uintmax_t fileBytes) {
  return patchBytes * 2 <= fileBytes && patchBytes <= MostPatchBytes(baseBytes);
}

}  // namespace tandor
