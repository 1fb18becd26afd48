#include "sync/EntryRules.h"

#include <system_error>

#include "manifest/InstallationRecord.h"
#include "manifest/ManifestReader.h"
#include "manifest/TextCase.h"
#include "platform/Prefix.h"
#include "sync/VersionOrder.h"
#include "util/FileVersion.h"
#include "util/NormalizeVersion.h"

namespace tandor {

namespace {

std::string NV(const std::string& version) {
  return NormalizeVersion(version, "");
}
std::string NVM(const std::string& version) {
  return NormalizeVersion(version, "MDAC");
}

std::string InstalledFile(const FileEntry& entry) {
  return entry.LocalPath + "\\" + entry.Realname;
}

bool IsDataAccessName(const std::string& realname) {
  return MatchesPattern(realname, "MDAC*");
}

}  // namespace

bool IsDataAccessPackage(const FileEntry& entry) {
  return IsDataAccessName(entry.Realname) && entry.Execute == "1";
}

EntryRules::EntryRules(const Prefix& prefix, VersionInfoQuery& versions,
                       const InstallationRecord& record, std::string dataAccessVersion,
                       AllowRule allow)
    : mPrefix(prefix),
      mVersions(versions),
      mRecord(record),
      mDataAccessVersion(std::move(dataAccessVersion)),
      mAllow(std::move(allow)) {}

bool EntryRules::FileExists(const std::string& path) const {
  std::error_code ec;
  return std::filesystem::is_regular_file(mPrefix.ToNative(path), ec);
}

void EntryRules::ReadInstalledVersions(FileEntry& entry) {
  const std::string installed = InstalledFile(entry);
  entry.InstalledFileVersion.clear();
  if (FileExists(installed)) {
    try {
      entry.InstalledFileVersion = GetFileVersion(mPrefix.ToNative(installed));
    } catch (const std::exception&) {
      // An unreadable file simply has no version of its own.
    }
  }
  if (entry.InstalledFileVersion.empty())
    entry.InstalledFileVersion = mRecord.FileVersion(entry.Key);

  // "?" (a version resource without the string) is a version of its own: no fallback for it.
  entry.InstalledProductVersion = mVersions.QueryFileVersionInfo(installed).ProductVersion;
  if (entry.InstalledProductVersion.empty())
    entry.InstalledProductVersion = mRecord.ProductVersion(entry.Key);
}

bool EntryRules::CopyModeWantsInstall(const FileEntry& entry) const {
  const bool package = IsDataAccessPackage(entry);
  // Ordinary entries compare the published product version with the installed one; a
  // data-access package compares its file version with the components on the machine.
  const std::string published = package ? NVM(entry.FileVersion) : NV(entry.ProductVersion);
  const std::string installed =
      package ? NVM(mDataAccessVersion) : NV(entry.InstalledProductVersion);
  const std::string& mode = entry.CopyMode;
  if (EqualsIgnoreCase(mode, "Normal")) return CompareVersions(published, installed) > 0;
  if (EqualsIgnoreCase(mode, "SkipIfSame")) return CompareVersions(published, installed) != 0;
  if (EqualsIgnoreCase(mode, "SkipIfExists")) return installed.empty();
  if (EqualsIgnoreCase(mode, "Force")) return true;
  return false;
}

bool EntryRules::FileIsMissing(const FileEntry& entry) const {
  // Data-access components are judged by their installed version only.
  if (IsDataAccessName(entry.Realname)) return false;
  // A file stored on the server under a substitute name lives locally under its real name.
  const std::string& localName =
      MatchesPattern(entry.Filename, "*_") ? entry.Realname : entry.Filename;
  if (!FileExists(entry.LocalPath + "\\" + localName)) return true;
  return entry.Extract == "1" && !FileExists(entry.ExtractTo + "\\" + entry.Realname);
}

void EntryRules::Decide(FileEntry& entry) const {
  entry.Download = false;
  if (mAllow && !mAllow(entry.AllowList, entry.BlockList)) return;
  entry.Download = CopyModeWantsInstall(entry) || FileIsMissing(entry);
}

EntryTable BuildEntryTable(const ManifestReader& reader, EntryRules& rules) {
  EntryTable table;
  for (long number = 1;; ++number) {
    std::string key = reader.ReadKey(number);
    if (key.empty()) break;
    FileEntry entry = reader.ReadEntry(number, std::move(key));
    rules.ReadInstalledVersions(entry);
    rules.Decide(entry);
    if (entry.Download) ++table.DownloadCount;
    table.Entries.push_back(std::move(entry));
  }
  return table;
}

}  // namespace tandor
