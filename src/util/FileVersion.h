#pragma once
// Version resources of files: the eight standard strings, the four-part file version, and the
// updater's own version.

#include <filesystem>
#include <string>

#include "platform/CodePage.h"

namespace tandor {

class Prefix;

// "?" marks a string the version resource lacks; all fields empty: no version resource.
struct FileVersionFields {
  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string InternalName;
  std::string LegalCopyright;
  std::string OriginalFileName;
  std::string ProductName;
  std::string ProductVersion;

  bool operator==(const FileVersionFields&) const = default;
};

// Reads version strings and remembers the result of the last call with a non-empty path.
class VersionInfoQuery {
 public:
  VersionInfoQuery(const Prefix& prefix, CodePage codePage);

  // `path` in Windows form or native; an empty path returns the last result and reads nothing.
  FileVersionFields QueryFileVersionInfo(const std::string& path);

 private:
  const Prefix& mPrefix;
  CodePage mCodePage;
  FileVersionFields mLastResult;
};

// The file version of the fixed file info as "a.b.c.d" ("1.0.0.210"); empty when the file is
// missing or has no version resource.
std::string GetFileVersion(const std::filesystem::path& nativeFile);

// Major, minor and revision of the running updater, from its own embedded version resource.
struct ProgramVersion {
  int Major = 0;
  int Minor = 0;
  int Revision = 0;
};
ProgramVersion ReadOwnProgramVersion();

}  // namespace tandor
