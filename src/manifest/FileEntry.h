#pragma once
// One manifest entry: the values read from the manifest, some of them expanded. What the pass
// finds on the machine and decides for it is kept apart (sync/EntryRules.h).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "manifest/ManifestRules.h"  // kMostDeltas
#include "util/Integrity.h"

namespace tandor {

// When an entry's file is installed by its versions; Other (any other text, empty included)
// installs only a missing file.
enum class CopyMode { Normal, SkipIfSame, SkipIfExists, Force, Other };

// The mode a "CopyMode" text names, without regard to case.
CopyMode ParseCopyMode(std::string_view text);

// A patch in the entry's server folder that makes the entry's file from an earlier version of it,
// the one whose digest is Base.
struct EntryDelta {
  Sha256Digest Base{};
  std::string Patch;

  bool operator==(const EntryDelta&) const = default;
};

struct FileEntry {
  std::string Key;
  std::string Filename;
  std::string Realname;
  std::string Caption;
  std::string ServerPath;  // "$Root" replaced by the configured root
  std::string LocalPath;   // path macros expanded
  std::string FileVersion;
  std::string ProductVersion;
  bool SelfRegister = false;  // "Register" is "$(DLLSelfRegister)": registered once installed
  CopyMode Copy = CopyMode::Other;
  std::string Execute;
  std::string ExecuteOption;  // path macros expanded
  bool Wait = false;          // "Wait" is "1": the pass waits for the started program
  bool Extract = false;       // "Extract" is "1": the file is an archive to extract into ExtractTo
  std::string ExtractTo;      // '/' turned into '\', expanded, defaulted to LocalPath
  std::string AllowList;
  std::string BlockList;
  std::string Sha256;  // 64 hex digits, or empty: the download is not checked
  // Sha256 read as a digest; nothing when it is empty or not one (the entry then fails).
  std::optional<Sha256Digest> Digest{};
  std::string Size{};  // the file's bytes, the most its download may bring; empty: no bound
  // Size read as a number of bytes; nothing when it is empty or not one (the entry then fails).
  std::optional<std::int64_t> SizeLimit{};
  std::vector<EntryDelta> Deltas{};
  // "DeltaN=value" of every delta key that names no digest and patch: ignored, and said so.
  std::vector<std::string> IgnoredDeltas{};

  // Where the file is installed: its real name in its local folder.
  std::string TargetPath() const { return LocalPath + "\\" + Realname; }

  bool operator==(const FileEntry&) const = default;
};

}  // namespace tandor
