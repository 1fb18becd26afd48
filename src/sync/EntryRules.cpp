#include "sync/EntryRules.h"

#include <optional>
#include <span>
#include <system_error>

#include "manifest/InstallationRecord.h"
#include "manifest/ManifestReader.h"
#include "platform/FileIo.h"
#include "platform/MappedFile.h"
#include "platform/Prefix.h"
#include "sync/VersionOrder.h"
#include "text/TextCase.h"
#include "util/Integrity.h"
#include "util/NormalizeVersion.h"
#include "util/VersionResource.h"

namespace tandor {

namespace {

std::string NV(const std::string& version) {
  return NormalizeVersion(version, "");
}
std::string NVM(const std::string& version) {
  return NormalizeVersion(version, "MDAC");
}

bool IsDataAccessName(const std::string& realname) {
  return MatchesWildcard(realname, "MDAC*");
}

// Small files are read in one go; mapping them costs more than reading them. Large programs
// are mapped, so that only the pages holding their headers and resources are touched.
constexpr std::uintmax_t kReadWholeLimit = 256 * 1024;

std::optional<VersionResource> LoadVersionResource(const std::filesystem::path& file,
                                                   std::uintmax_t size) {
  if (size <= kReadWholeLimit) {
    std::optional<std::string> bytes = ReadWholeFile(file);
    if (!bytes) return std::nullopt;
    return VersionResource::FromImage(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
  }
  std::optional<MappedFile> mapped = MappedFile::Open(file);
  if (!mapped) return std::nullopt;
  return VersionResource::FromImage(mapped->Bytes());
}

}  // namespace

bool IsDataAccessPackage(const FileEntry& entry) {
  return IsDataAccessName(entry.Realname) && entry.Execute == "1";
}

EntryRules::EntryRules(const Prefix& prefix, CodePage codePage, const InstallationRecord& record,
                       std::string dataAccessVersion, AllowRule allow)
    : mPrefix(prefix),
      mCodePage(codePage),
      mRecord(record),
      mDataAccessVersion(std::move(dataAccessVersion)),
      mAllow(std::move(allow)) {}

bool EntryRules::FileExists(const std::string& path) const {
  // The missing-file rule usually asks about the file whose versions were just read.
  if (path == mLastChecked) return mLastCheckedExists;
  std::error_code ec;
  return std::filesystem::is_regular_file(mPrefix.ToNative(path), ec);
}

InstalledVersions EntryRules::ReadInstalledVersions(const FileEntry& entry) {
  const std::string installed = entry.TargetPath();
  const std::filesystem::path native = mPrefix.ToNative(installed);
  InstalledVersions versions;

  // One look at the file gives both versions: the four-part number of the fixed file info and
  // the ProductVersion string, exactly as the file version query and the version fields report
  // them. With thousands of entries a second open of every file would double the pass's time.
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(native, ec);  // fails unless a file
  mLastChecked = installed;
  mLastCheckedExists = !ec;
  if (!ec) {
    if (std::optional<VersionResource> resource = LoadVersionResource(native, size)) {
      if (auto version = resource->FileVersion()) versions.File = version->ToString();
      versions.Product = resource->Fields(mCodePage).ProductVersion;
    }
  }
  if (versions.File.empty()) versions.File = mRecord.FileVersion(entry.Key);
  // "?" (a version resource without the string) is a version of its own: no fallback for it.
  if (versions.Product.empty()) versions.Product = mRecord.ProductVersion(entry.Key);
  return versions;
}

bool EntryRules::CopyModeWantsInstall(const FileEntry& entry,
                                      const InstalledVersions& installedCopy) const {
  const bool package = IsDataAccessPackage(entry);
  // Ordinary entries compare the published product version with the installed one; a
  // data-access package compares its file version with the components on the machine.
  const std::string published = package ? NVM(entry.FileVersion) : NV(entry.ProductVersion);
  const std::string installed = package ? NVM(mDataAccessVersion) : NV(installedCopy.Product);
  switch (entry.Copy) {
    case CopyMode::Normal:
      return CompareVersions(published, installed) > 0;
    case CopyMode::SkipIfSame:
      return CompareVersions(published, installed) != 0;
    case CopyMode::SkipIfExists:
      return installed.empty();
    case CopyMode::Force:
      return true;
    case CopyMode::Other:
      break;
  }
  return false;
}

bool EntryRules::FileIsMissing(const FileEntry& entry) const {
  // Data-access components are judged by their installed version only.
  if (IsDataAccessName(entry.Realname)) return false;
  // A file stored on the server under a substitute name lives locally under its real name.
  const std::string& localName = InstalledName(entry.Filename, entry.Realname);
  if (!FileExists(entry.LocalPath + "\\" + localName)) return true;
  return entry.Extract && !FileExists(entry.ExtractTo + "\\" + entry.Realname);
}

bool EntryRules::InstalledBytesDiffer(const FileEntry& entry) const {
  if (!mHoldToDigests || !entry.Digest || entry.Copy == CopyMode::SkipIfExists) return false;
  const std::filesystem::path installed =
      mPrefix.ToNative(entry.LocalPath + "\\" + InstalledName(entry.Filename, entry.Realname));
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(installed, ec);
  if (ec) return false;  // missing: the missing-file rule decides
  if (entry.SizeLimit && static_cast<std::uintmax_t>(*entry.SizeLimit) != size) return true;
  return Sha256OfFile(installed) != entry.Digest;
}

bool EntryRules::Decide(const FileEntry& entry, const InstalledVersions& installed) const {
  bool download = false;
  if (!mAllow || mAllow(entry.AllowList, entry.BlockList))
    download = CopyModeWantsInstall(entry, installed) || FileIsMissing(entry) ||
               InstalledBytesDiffer(entry);
  mLastChecked.clear();
  return download;
}

EntryTable BuildEntryTable(const ManifestReader& reader, EntryRules& rules) {
  EntryTable table;
  for (long number = 1;; ++number) {
    std::string key = reader.ReadKey(number);
    if (key.empty()) break;
    PlannedEntry planned{.Entry = reader.ReadEntry(number, std::move(key))};
    planned.Installed = rules.ReadInstalledVersions(planned.Entry);
    planned.Download = rules.Decide(planned.Entry, planned.Installed);
    if (planned.Download) ++table.DownloadCount;
    table.Entries.push_back(std::move(planned));
  }
  return table;
}

}  // namespace tandor
