#include "publisher/FolderPublish.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "delta/Delta.h"
#include "manifest/RenumberEntries.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "publisher/Destination.h"
#include "publisher/ManifestText.h"
#include "publisher/Publisher.h"
#include "text/TextCase.h"
#include "util/Integrity.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kKeptSuffix = ".old";
constexpr std::string_view kPatchSuffix = ".zpatch";
constexpr std::size_t kHexShown = 16;
// A manifest is read whole; one larger than a machine would take is no manifest.
constexpr std::uintmax_t kMostManifestBytes = 16u << 20;

std::string Short(std::string_view sha256Hex) {
  return std::string(sha256Hex.substr(0, kHexShown));
}

bool IsLowerHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The folder of DEST that a rollout put a file into, as the end of its entry's Server Path: a
// last part of 16 hex digits; empty when there is none.
std::string RolloutFolderOf(std::string_view serverPath) {
  const std::size_t slash = serverPath.rfind('/');
  const std::string_view last = serverPath.substr(slash == std::string_view::npos ? 0 : slash + 1);
  if (slash == std::string_view::npos || last.size() != kHexShown || !IsLowerHex(last)) return {};
  return std::string(last);
}

// `serverPath` naming `folder` of DEST (DEST itself when it is empty) in place of any folder
// of a rollout it names: the client fetches a file, and its patches, from there.
std::string ServerPathIn(const std::string& serverPath, const std::string& folder) {
  const std::string named = RolloutFolderOf(serverPath);
  const std::string dest =
      serverPath.substr(0, serverPath.size() - (named.empty() ? 0 : named.size() + 1));
  return folder.empty() ? dest : dest + "/" + folder;
}

// `name` in `folder` of DEST, or in DEST itself when `folder` is empty.
std::string InFolder(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// The base (the SHA-256 in lower case) and the patch of each Delta line of `entry`, in order.
std::vector<std::pair<std::string, std::string>> DeltaLines(const ManifestText& manifest,
                                                            std::size_t entry) {
  std::vector<std::pair<std::string, std::string>> lines;
  for (int n = 1; n <= 99; ++n) {
    const std::string value = manifest.Value(entry, "Delta" + std::to_string(n));
    const std::size_t comma = value.find(',');
    if (!value.empty())
      lines.emplace_back(LowerAscii(Trim(value.substr(0, comma))),
                         comma == std::string::npos ? "" : Trim(value.substr(comma + 1)));
  }
  return lines;
}

std::optional<std::string> Sha256HexOf(const fs::path& file) {
  if (const std::optional<Sha256Digest> digest = Sha256OfFile(file)) return Sha256Hex(*digest);
  return std::nullopt;
}

// An earlier version of a file that gets a patch to the new one and is kept for the next.
struct Base {
  std::string Sha256;
  fs::path File;              // a local copy that can be read
  bool JustReplaced = false;  // the file the new one replaces: kept from now on
  std::string Patch;          // the patch's name when it is worth listing
};

// What happens to one FILE.
struct FilePlan {
  fs::path Local;
  std::string Name;           // under which it is uploaded
  std::string Folder;         // the folder of DEST it goes into; empty: DEST itself
  std::string CurrentFolder;  // the folder of DEST the entry names now
  PickedVersions Versions;
  bool Unchanged = false;  // the folder holds it byte for byte already
  std::vector<Base> Bases;
  std::vector<std::string> Stale;  // kept versions and patches of it that go
};

class FolderPublisher {
 public:
  FolderPublisher(Destination& folder, const PublishRequest& request, VersionInfoQuery& query,
                  const fs::path& scratch, const std::function<void(const std::string&)>& say,
                  const std::function<void(const std::string&)>& complain)
      : mFolder(folder),
        mRequest(request),
        mQuery(query),
        mScratch(scratch),
        mSay(say),
        mComplain(complain),
        mPublisher(scratch / request.ManifestName, request.ManifestName, request.ManifestCodePage,
                   FtpEvents{}) {
    mPublisher.SignWith(request.SigningKey);
    mPublisher.StampUnsigned(true);
  }

  int Run() {
    int status = CheckKey();
    if (status == publish::Published) status = PlanFiles();
    if (status == publish::Published) status = ReadFolder();
    if (status == publish::Published) status = SettleVersions();
    if (status == publish::Published) status = PlanRollout();
    for (FilePlan& plan : mPlans) {
      if (status == publish::Published) PlanFolder(plan);
      if (status == publish::Published) status = PlanBases(plan);
      if (status == publish::Published) status = MakePatches(plan);
    }
    std::string manifest;
    if (status == publish::Published) status = WriteManifest(manifest);
    if (status == publish::Published) status = Upload(manifest);
    if (status == publish::Published) status = RemoveStale();
    mFolder.Close();
    return status;
  }

 private:
  int Fail(int status, const std::string& text) {
    mComplain(text);
    return status;
  }

  int CheckKey() {
    if (mRequest.SigningKey.empty()) return publish::Published;
    const std::string key = mRequest.SigningKey.string();
    switch (mPublisher.CheckSigningKey()) {
      case SigningKeyState::Usable:
        return publish::Published;
      case SigningKeyState::Shared:
        return Fail(publish::CannotUse,
                    key + ": others may read it; a secret key must be private: chmod 600 " + key);
      case SigningKeyState::Unusable:
        break;
    }
    if (!ReadWholeFile(mRequest.SigningKey))
      return Fail(publish::CannotUse, key + ": cannot be read");
    return Fail(publish::CannotUse, key + ": is no secret key of tandor-sign keygen");
  }

  int PlanFiles() {
    std::set<std::string> names;
    for (const fs::path& file : mRequest.Files) {
      FilePlan plan;
      plan.Local = file;
      plan.Name = ChooseUploadName(FileNameOfPath(file.string()), false).Name;
      if (EqualsIgnoreCase(plan.Name, mRequest.ManifestName) ||
          EqualsIgnoreCase(plan.Name, mRequest.ManifestName + ".sig"))
        return Fail(publish::Usage, file.string() + ": the manifest is no file to publish");
      // The entry names the file in the manifest's code page: a name that changes on the way
      // would be uploaded under a name no entry matches the next time.
      const CodePage& codePage = mRequest.ManifestCodePage;
      if (codePage.ToUtf8(codePage.FromUtf8(plan.Name)) != plan.Name)
        return Fail(publish::CannotUse, file.string() + ": " + plan.Name +
                                            " cannot be written in code page " +
                                            std::to_string(codePage.Number()) +
                                            ", that of the manifest; rename the file");
      if (!names.insert(LowerAscii(plan.Name)).second)
        return Fail(publish::Usage, file.string() + ": a second file named " + plan.Name);
      try {
        plan.Versions = ReadPickedVersions(file, mQuery);
      } catch (const RuntimeError& error) {
        return Fail(publish::CannotUse, error.Description());
      }
      if (plan.Versions.Sha256.empty())
        return Fail(publish::CannotUse, file.string() + ": cannot be read");
      mPlans.push_back(std::move(plan));
    }
    return publish::Published;
  }

  int ReadFolder() {
    if (const std::optional<std::string> failure = mFolder.Open())
      return Fail(publish::FolderFailed, mFolder.Describe() + ": cannot be reached: " + *failure);
    const FetchedFile manifest = mFolder.Fetch(mRequest.ManifestName, mScratch);
    if (manifest.Result == FetchedFile::Kind::Failed)
      return Fail(publish::FolderFailed,
                  mRequest.ManifestName + ": cannot be downloaded: " + manifest.Problem);
    std::string bytes;
    if (manifest.Result == FetchedFile::Kind::Fetched) {
      std::error_code error;
      if (fs::file_size(manifest.File, error) > kMostManifestBytes)
        return Fail(publish::FolderFailed, mRequest.ManifestName + ": larger than 16 MiB");
      const std::optional<std::string> read = ReadWholeFile(manifest.File);
      if (!read) return Fail(publish::FolderFailed, mRequest.ManifestName + ": cannot be read");
      bytes = *read;
    }
    mCurrentManifest = bytes;
    if (const std::optional<std::string> problem = ManifestProblem(bytes))
      return Fail(publish::FolderFailed,
                  mRequest.ManifestName + " cannot be parsed: " + *problem + "; nothing published");
    mManifest.emplace(mRequest.ManifestCodePage.ToUtf8(bytes));
    if (Trim(mManifest->Text()).empty()) mManifest.emplace("[Files]");
    // A file goes up under the name its entry gives it, in that letter case.
    for (FilePlan& plan : mPlans) {
      if (const std::optional<std::size_t> entry = mManifest->FindEntry(plan.Name))
        plan.Name = mManifest->Value(*entry, "Filename");
    }
    std::string problem;
    if (std::optional<std::vector<std::string>> names = mFolder.List(problem))
      mListing = std::move(*names);
    else
      return Fail(publish::FolderFailed, mFolder.Describe() + ": cannot be listed: " + problem);
    return publish::Published;
  }

  // Versions that machines comparing them with those of the entry see as they should: other
  // bytes under the entry's versions would never reach them.
  int SettleVersions() {
    for (FilePlan& plan : mPlans) {
      const std::optional<std::size_t> entry = mManifest->FindEntry(plan.Name);
      if (!entry) continue;
      const ListedVersions listed{mManifest->Value(*entry, "File Version"),
                                  mManifest->Value(*entry, "Product Version"),
                                  mManifest->Value(*entry, "SHA256")};
      const std::string stamp =
          plan.Versions.FileStamped ? plan.Versions.FileVersion : plan.Versions.ProductVersion;
      if (const std::optional<std::string> problem =
              tandor::SettleVersions(plan.Versions, listed, plan.Local.string()))
        return Fail(publish::CannotUse, *problem);
      const std::string settled =
          plan.Versions.FileStamped ? plan.Versions.FileVersion : plan.Versions.ProductVersion;
      if (settled != stamp && !EqualsIgnoreCase(listed.Sha256, plan.Versions.Sha256))
        mSay(plan.Name + ": other bytes, but its time " + stamp +
             " is not newer than its entry's: version " + settled);
    }
    return publish::Published;
  }

  bool RollingOut() const { return mRequest.Rollout && *mRequest.Rollout < 100; }

  // The manifest machines outside the rollout take: the one a rollout in progress names, else
  // the current full release, kept under a name of its own with its signature.
  int PlanRollout() {
    if (!RollingOut()) return publish::Published;
    if (Trim(mCurrentManifest).empty())
      return Fail(publish::Usage, mRequest.ManifestName +
                                      ": not on the server yet, nothing to fall back to; publish "
                                      "a full release first (without --rollout)");
    const std::size_t settings = mManifest->SettingsSection().value_or(0);
    const std::string rollout = mManifest->Value(settings, "Rollout");
    mFallback = mManifest->Value(settings, "Fallback");
    if (!mFallback.empty()) {
      if (!Listed(mFallback))
        return Fail(publish::FolderFailed, mFallback + ": the fallback that " +
                                               mRequest.ManifestName + " names is not there");
      mSay(mRequest.ManifestName + ": a rollout in progress, keeps Fallback=" + mFallback);
      return ReadFallback();
    }
    if (!rollout.empty())
      return Fail(publish::FolderFailed, mRequest.ManifestName + ": Rollout=" + rollout +
                                             " without Fallback=: no full release to fall back to");
    return KeepCurrentRelease();
  }

  int ReadFallback() {
    const FetchedFile fetched = mFolder.Fetch(mFallback, mScratch);
    const std::optional<std::string> bytes =
        fetched.Result == FetchedFile::Kind::Fetched ? ReadWholeFile(fetched.File) : std::nullopt;
    if (!bytes)
      return Fail(publish::FolderFailed, mFallback + ": cannot be downloaded: " + fetched.Problem);
    mFallbackManifest.emplace(mRequest.ManifestCodePage.ToUtf8(*bytes));
    return publish::Published;
  }

  // Copies the current manifest and its signature into the scratch folder under the name they
  // are kept under: uploaded before the new manifest, they are what it falls back to.
  int KeepCurrentRelease() {
    mFallbackManifest.emplace(mRequest.ManifestCodePage.ToUtf8(mCurrentManifest));
    const fs::path name = mRequest.ManifestName;
    Sha256Stream stream;
    stream.Update(mCurrentManifest.data(), mCurrentManifest.size());
    const std::string hex = Short(Sha256Hex(stream.Final()));
    mFallback = name.stem().string() + "." + hex + name.extension().string();
    if (!WriteFileAtomically(mScratch / mFallback, mCurrentManifest))
      return Fail(publish::CannotUse, (mScratch / mFallback).string() + ": cannot be written");
    const std::string signature = mRequest.ManifestName + ".sig";
    if (!Listed(signature)) return publish::Published;
    const FetchedFile fetched = mFolder.Fetch(signature, mScratch);
    if (fetched.Result != FetchedFile::Kind::Fetched)
      return Fail(publish::FolderFailed, signature + ": cannot be downloaded: " + fetched.Problem);
    std::error_code error;
    fs::copy_file(fetched.File, mScratch / (mFallback + ".sig"),
                  fs::copy_options::overwrite_existing, error);
    if (error)
      return Fail(publish::CannotUse, signature + ": cannot be copied: " + error.message());
    mFallbackSigned = true;
    return publish::Published;
  }

  void EditRollout() {
    const std::size_t settings = mManifest->SettingsSection().value_or(0);
    mManifest->RemoveKeys(settings, [](std::string_view key) {
      return EqualsIgnoreCase(key, "Rollout") || EqualsIgnoreCase(key, "Fallback");
    });
    if (!RollingOut()) return;
    mManifest->SetValue(settings, "Rollout", std::to_string(*mRequest.Rollout));
    mManifest->SetValue(settings, "Fallback", mFallback);
  }

  // The kept release goes up before the manifest that names it; one kept already stays.
  int UploadFallback() {
    if (!RollingOut() || Listed(mFallback) || !fs::exists(mScratch / mFallback))
      return publish::Published;
    if (int status = Put(mScratch / mFallback, mFallback)) return status;
    return mFallbackSigned ? Put(mScratch / (mFallback + ".sig"), mFallback + ".sig")
                           : publish::Published;
  }

  std::optional<std::string> ManifestProblem(const std::string& bytes) const {
    const CodePage& codePage = mRequest.ManifestCodePage;
    // Saved again, a byte the code page has no character for would come out changed.
    if (codePage.FromUtf8(codePage.ToUtf8(bytes)) != bytes)
      return "it holds bytes that are no text of code page " + std::to_string(codePage.Number());
    return ManifestText(codePage.ToUtf8(bytes)).Problem();
  }

  bool Listed(const std::string& name) const {
    return std::find(mListing.begin(), mListing.end(), name) != mListing.end();
  }

  // The bases of each Delta line of the file's entry, in order.
  std::vector<std::string> DeltaBases(const FilePlan& plan) const {
    std::vector<std::string> bases;
    if (const std::optional<std::size_t> entry = mManifest->FindEntry(plan.Name))
      for (const auto& [base, patch] : DeltaLines(*mManifest, *entry)) bases.push_back(base);
    return bases;
  }

  // During a rollout, a file that its fallback lists with other bytes goes into a folder of its
  // own, named by its SHA-256, so that the machines that fall back find theirs where it was.
  void PlanFolder(FilePlan& plan) const {
    if (const std::optional<std::size_t> entry = mManifest->FindEntry(plan.Name))
      plan.CurrentFolder = RolloutFolderOf(mManifest->Value(*entry, "Server Path"));
    if (!RollingOut()) return;
    const std::optional<std::size_t> listed = mFallbackManifest->FindEntry(plan.Name);
    if (listed && LowerAscii(mFallbackManifest->Value(*listed, "SHA256")) != plan.Versions.Sha256)
      plan.Folder = Short(plan.Versions.Sha256);
  }

  // A patch of the file that the fallback of a rollout lists stays while the fallback does.
  bool FallbackLists(const FilePlan& plan, const std::string& patch) const {
    if (!RollingOut()) return false;
    const std::optional<std::size_t> entry = mFallbackManifest->FindEntry(plan.Name);
    if (!entry) return false;
    const auto lines = DeltaLines(*mFallbackManifest, *entry);
    return std::any_of(lines.begin(), lines.end(),
                       [&](const auto& line) { return line.second == patch; });
  }

  // Takes `sha256` as a base unless there are enough, it is the new file or taken already.
  bool TakeBase(FilePlan& plan, Base base) {
    if (static_cast<int>(plan.Bases.size()) >= mRequest.Keep) return false;
    if (base.Sha256 == plan.Versions.Sha256) return false;
    for (const Base& taken : plan.Bases)
      if (taken.Sha256 == base.Sha256) return false;
    plan.Bases.push_back(std::move(base));
    return true;
  }

  static bool KeptOfTakenBase(const FilePlan& plan, const std::string& name) {
    return std::any_of(plan.Bases.begin(), plan.Bases.end(),
                       [&](const Base& base) { return KeptName(plan.Name, base.Sha256) == name; });
  }

  int PlanBases(FilePlan& plan) {
    // The versions machines hold now: the one in the folder the entry names, and the one in DEST
    // (which machines outside a rollout take).
    std::vector<std::string> current;
    if (!plan.CurrentFolder.empty()) current.push_back(InFolder(plan.CurrentFolder, plan.Name));
    if (Listed(plan.Name)) current.push_back(plan.Name);
    for (const std::string& name : current) {
      const FetchedFile fetched = mFolder.Fetch(name, mScratch);
      if (fetched.Result == FetchedFile::Kind::Missing) continue;
      if (fetched.Result != FetchedFile::Kind::Fetched)
        return Fail(publish::FolderFailed, name + ": cannot be downloaded: " + fetched.Problem);
      const std::optional<std::string> sha = Sha256HexOf(fetched.File);
      if (!sha) return Fail(publish::FolderFailed, fetched.File.string() + ": cannot be read");
      if (name == InFolder(plan.Folder, plan.Name)) plan.Unchanged = *sha == plan.Versions.Sha256;
      TakeBase(plan, {*sha, fetched.File, true, {}});
    }
    std::vector<std::string> kept;
    for (const std::string& name : mListing) {
      if (HexOfName(name, plan.Name, kKeptSuffix)) kept.push_back(name);
    }
    for (const std::string& name : RankKept(kept, DeltaBases(plan))) {
      // The version just replaced may be kept already, by a publish that failed after it went
      // up: it is the base taken, and stays.
      if (KeptOfTakenBase(plan, name)) continue;
      if (static_cast<int>(plan.Bases.size()) >= mRequest.Keep) {
        plan.Stale.push_back(name);
        continue;
      }
      const FetchedFile old = mFolder.Fetch(name, mScratch);
      if (old.Result != FetchedFile::Kind::Fetched)
        return Fail(publish::FolderFailed, name + ": cannot be downloaded: " + old.Problem);
      const std::optional<std::string> sha = Sha256HexOf(old.File);
      if (!sha) return Fail(publish::FolderFailed, old.File.string() + ": cannot be read");
      // A kept version whose bytes do not match its name is damaged: it goes.
      if (Short(*sha) != *HexOfName(name, plan.Name, kKeptSuffix) ||
          !TakeBase(plan, {*sha, old.File, false, {}}))
        plan.Stale.push_back(name);
    }
    return publish::Published;
  }

  int MakePatches(FilePlan& plan) {
    std::error_code error;
    const std::uintmax_t fileBytes = fs::file_size(plan.Local, error);
    for (Base& base : plan.Bases) {
      const std::string name = PatchName(plan.Name, base.Sha256);
      PatchMade made;
      try {
        made = CreatePatch(base.File, plan.Local, mScratch / name);
      } catch (const RuntimeError& error) {
        return Fail(publish::CannotUse, name + ": patch not made: " + error.Description());
      }
      std::error_code patchError, baseError;
      const std::uintmax_t patchBytes = fs::file_size(mScratch / name, patchError);
      const std::uintmax_t baseBytes = fs::file_size(base.File, baseError);
      if (!patchError && !baseError && PatchIsWorthIt(patchBytes, baseBytes, fileBytes)) {
        base.Patch = name;
        mSay(plan.Name + ": patch from " + Short(base.Sha256) + " (" + std::to_string(patchBytes) +
             " bytes, " + made.Method + ")");
      } else {
        mSay(plan.Name + ": patch from " + Short(base.Sha256) +
             " not listed: " + std::to_string(patchBytes) +
             " bytes, more than half the file or than a machine fetches for a patch from its " +
             std::to_string(baseBytes) + " bytes");
      }
    }
    for (const std::string& name : mListing) {
      const bool listed = std::any_of(plan.Bases.begin(), plan.Bases.end(),
                                      [&](const Base& base) { return base.Patch == name; });
      if (HexOfName(name, plan.Name, kPatchSuffix) && !listed && !FallbackLists(plan, name))
        plan.Stale.push_back(name);
    }
    return publish::Published;
  }

  std::string ProductName() const {
    return mRequest.Product.empty() ? ProductOfFolder(mRequest.ProductFolder) : mRequest.Product;
  }

  void EditEntry(const FilePlan& plan) {
    std::optional<std::size_t> entry = mManifest->FindEntry(plan.Name);
    if (!entry) {
      EntryChoices choices;
      choices.ServerPath = "$Root/" + ProductName();
      choices.LocalPath = mRequest.LocalPath;
      choices.CopyMode = "Normal";
      entry =
          mManifest->Append(EntryText(FileNameOfPath(plan.Local.string()), plan.Versions, choices));
      mManifest->SetValue(*entry, "FileName", plan.Name);  // the updater's substitute name
      mSay(plan.Name + ": new entry");
    }
    const std::string path = mManifest->Value(*entry, "Server Path");
    if (const std::string wanted = ServerPathIn(path, plan.Folder); wanted != path)
      mManifest->SetValue(*entry, "Server Path", wanted);
    mManifest->SetValue(*entry, "File Version", plan.Versions.FileVersion);
    mManifest->SetValue(*entry, "Product Version", plan.Versions.ProductVersion);
    mManifest->SetValue(*entry, "SHA256", plan.Versions.Sha256);
    mManifest->SetValue(*entry, "Size", std::to_string(plan.Versions.Size), "SHA256");
    mManifest->RemoveKeys(*entry, IsDeltaKey);
    int number = 0;
    for (const Base& base : plan.Bases) {
      if (!base.Patch.empty())
        mManifest->SetValue(*entry, "Delta" + std::to_string(++number),
                            base.Sha256 + "," + base.Patch);
    }
  }

  int WriteManifest(std::string& manifest) {
    for (const FilePlan& plan : mPlans) EditEntry(plan);
    EditRollout();
    const std::string text = RenumberEntries(mManifest->Text());
    const std::string named = FilesValue(text, "Product");
    if (!named.empty() && !mRequest.Product.empty() && named != mRequest.Product)
      mSay(mRequest.ManifestName + ": keeps its own Product=" + named);
    const ManifestToSave prepared = mPublisher.PrepareForSave(ProductName(), text);
    if (prepared.Reason == ManifestToSave::Why::SerialNotANumber)
      return Fail(publish::FolderFailed,
                  mRequest.ManifestName +
                      " cannot be parsed: its Serial= "
                      "is no number of at most 18 digits; nothing published");
    if (!prepared.Text)
      return Fail(publish::Usage,
                  "the product cannot be told from the folder: name it with "
                  "--product NAME");
    manifest = *prepared.Text;
    return publish::Published;
  }

  int Put(const fs::path& local, const std::string& name) {
    if (const std::optional<std::string> failure = mFolder.Put(local, name))
      return Fail(publish::NotDone,
                  name + ": upload failed: " + *failure + "; the manifest was not replaced");
    mSay("uploaded " + name);
    return publish::Published;
  }

  int Stage(const fs::path& local, const std::string& name) {
    if (const std::optional<std::string> failure = mFolder.Stage(local, name))
      return Fail(publish::NotDone,
                  name + ": upload failed: " + *failure + "; the manifest was not replaced");
    mStaged.push_back(name);
    mSay("uploaded " + name);
    return publish::Published;
  }

  // Patches and files go up under names no client asks for and only once all are up do they
  // take their names, right before the manifest: a failure part-way leaves what the live
  // manifest lists as it was.
  int StageAll() {
    for (const FilePlan& plan : mPlans) {
      if (!plan.Folder.empty()) {
        if (const std::optional<std::string> failure = mFolder.MakeFolder(plan.Folder))
          return Fail(publish::NotDone, plan.Folder + ": folder not made: " + *failure +
                                            "; the manifest was not replaced");
      }
      for (const Base& base : plan.Bases) {
        const std::string kept = KeptName(plan.Name, base.Sha256);
        if (base.JustReplaced && !Listed(kept)) {
          if (int status = Put(base.File, kept)) return status;
        }
        if (!base.Patch.empty()) {
          if (int status = Stage(mScratch / base.Patch, InFolder(plan.Folder, base.Patch)))
            return status;
        }
      }
      if (plan.Unchanged) {
        mSay(plan.Name + ": the folder holds this version already");
      } else if (int status = Stage(plan.Local, InFolder(plan.Folder, plan.Name))) {
        return status;
      }
    }
    return publish::Published;
  }

  int SettleAll() {
    while (!mStaged.empty()) {
      const std::string& name = mStaged.front();
      if (const std::optional<std::string> failure = mFolder.Settle(name))
        return Fail(publish::NotDone, name + ": not renamed into place: " + *failure +
                                          "; the manifest was not replaced");
      mStaged.erase(mStaged.begin());
    }
    return publish::Published;
  }

  // What went up and did not take its name goes again.
  void Unstage() {
    for (const std::string& name : mStaged) {
      if (const std::optional<std::string> failure = mFolder.Remove(StagedName(name)))
        mComplain(StagedName(name) + ": not removed: " + *failure);
    }
    mStaged.clear();
  }

  // Files first and the manifest last: a client never reads of a file that is not there yet.
  int Upload(const std::string& manifest) {
    int status = StageAll();
    if (status == publish::Published) status = UploadFallback();
    if (status == publish::Published) status = SettleAll();
    Unstage();
    if (status != publish::Published) return status;
    if (const std::optional<SaveFailure> failure = mPublisher.Save(mFolder, manifest)) {
      if (failure->ManifestUp)
        return Fail(publish::NotDone,
                    mRequest.ManifestName + " went up, but " + mRequest.ManifestName +
                        ".sig did not: " + failure->Text +
                        "; machines with a manifest key refuse the new manifest until it is "
                        "published again");
      return Fail(publish::NotDone, mRequest.ManifestName + ": upload failed: " + failure->Text);
    }
    mSay("uploaded " + mRequest.ManifestName + " (Serial=" + FilesValue(manifest, "Serial") +
         ", Product=" + FilesValue(manifest, "Product") +
         (mRequest.SigningKey.empty() ? ", unsigned)" : ", signed)"));
    return publish::Published;
  }

  // What the new manifest no longer names goes once it is up.
  int RemoveStale() {
    int status = publish::Published;
    for (const FilePlan& plan : mPlans) {
      for (const std::string& name : plan.Stale) {
        if (const std::optional<std::string> failure = mFolder.Remove(name))
          status = Fail(publish::NotDone, name + ": not removed: " + *failure);
        else
          mSay("removed " + name);
      }
    }
    return status;
  }

  Destination& mFolder;
  const PublishRequest& mRequest;
  VersionInfoQuery& mQuery;
  fs::path mScratch;
  const std::function<void(const std::string&)>& mSay;
  const std::function<void(const std::string&)>& mComplain;
  Publisher mPublisher;
  std::vector<FilePlan> mPlans;
  std::optional<ManifestText> mManifest;
  std::vector<std::string> mListing;
  std::vector<std::string> mStaged;  // up under StagedName, not yet renamed into place
  std::string mCurrentManifest;      // as it is on the server; empty when there is none
  std::string mFallback;             // the Fallback= of a rollout
  std::optional<ManifestText> mFallbackManifest;  // the manifest it names
  bool mFallbackSigned = false;                   // the kept release has its signature beside it
};

}  // namespace

std::string KeptName(std::string_view name, std::string_view sha256Hex) {
  return std::string(name) + "." + Short(sha256Hex) + std::string(kKeptSuffix);
}

std::string PatchName(std::string_view name, std::string_view baseSha256Hex) {
  return std::string(name) + "." + Short(baseSha256Hex) + std::string(kPatchSuffix);
}

std::optional<std::string> HexOfName(std::string_view fileName, std::string_view name,
                                     std::string_view suffix) {
  if (fileName.size() != name.size() + 1 + kHexShown + suffix.size() ||
      !fileName.starts_with(name) || fileName[name.size()] != '.' || !fileName.ends_with(suffix))
    return std::nullopt;
  const std::string_view hex = fileName.substr(name.size() + 1, kHexShown);
  if (!IsLowerHex(hex)) return std::nullopt;
  return std::string(hex);
}

std::vector<std::string> RankKept(std::vector<std::string> kept,
                                  const std::vector<std::string>& deltaBases) {
  const auto rank = [&](const std::string& name) {
    const std::string hex = name.substr(name.size() - kKeptSuffix.size() - kHexShown, kHexShown);
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

int PublishToFolder(Destination& folder, const PublishRequest& request, VersionInfoQuery& query,
                    const fs::path& scratch, const std::function<void(const std::string&)>& say,
                    const std::function<void(const std::string&)>& complain) {
  return FolderPublisher(folder, request, query, scratch, say, complain).Run();
}

}  // namespace tandor
