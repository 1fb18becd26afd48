#pragma once
// One manifest entry as the update pass holds it: the values read from the manifest (some of
// them expanded), the versions of the installed copy, and the two flags the pass sets.

#include <string>

namespace tandor {

struct FileEntry {
  std::string Key;
  std::string Filename;
  std::string Realname;
  std::string Caption;
  std::string ServerPath;  // "$Root" replaced by the configured root
  std::string LocalPath;   // path macros expanded
  std::string FileVersion;
  std::string ProductVersion;
  std::string InstalledFileVersion;
  std::string InstalledProductVersion;
  std::string Register;
  std::string CopyMode;
  std::string Execute;
  std::string ExecuteOption;  // path macros expanded
  std::string Wait;
  std::string Extract;
  std::string ExtractTo;  // '/' turned into '\', expanded, defaulted to LocalPath
  std::string AllowList;
  std::string BlockList;
  std::string Sha256;  // 64 hex digits, or empty: the download is not checked
  bool Download = false;
  bool Failed = false;

  bool operator==(const FileEntry&) const = default;
};

}  // namespace tandor
