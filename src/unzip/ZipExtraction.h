#pragma once
// One run of the zip extractor over libarchive: extract (or only list) the entries of one
// archive below one folder and report an Info-ZIP status code (see UnzipStatus.h).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "platform/FreeSpace.h"

namespace tandor {

struct ZipJob {
  std::filesystem::path Archive;
  // Where the entries go. Empty means the archive is only listed and nothing is written.
  std::filesystem::path Target;
  // Wildcard patterns on entry names: an empty include list takes every entry.
  std::vector<std::string> Include;
  std::vector<std::string> Exclude;
  bool ListOnly = false;
  // Re-create the folders stored in the archive; without it every file lands in Target itself.
  bool KeepFolders = true;
  // Code page of entry names that the archive does not flag as UTF-8.
  CodePage NameCodePage;
  // Where the free space of the target comes from; empty means AvailableSpace.
  FreeSpaceSource FreeSpace;
  // Told each file's or link's place just before the entry is put there; false fails the entry
  // and leaves the place as it is.
  std::function<bool(const std::filesystem::path&)> BeforeReplace;
};

// Why an archive was not extracted for want of room: what its entries declare, what the file
// system had left, and what had to stay free there.
struct SpaceShortage {
  std::uint64_t Needed = 0;
  std::uint64_t Available = 0;
  std::uint64_t Margin = 0;
};

struct ZipOutcome {
  std::int32_t Status = 0;  // UnzipStatus.h
  // Set when nothing was written because the entries would not fit with the margin.
  std::optional<SpaceShortage> Shortage;
  // Links not made because they lead out of the target folder: "name -> target".
  std::vector<std::string> RefusedLinks;
};

// Asked for the password of an encrypted entry: the password, or nothing to skip the entry. It is
// asked at most once per entry, however often the password given turns out wrong.
using PassphraseSource = std::function<std::optional<std::string>()>;

// Runs the job. Existing files are replaced without asking; each file is written under a
// temporary name beside its place and renamed over it only when all its data has been read and
// checked, so a wrong password or damaged data never touches the file already there. Nothing is
// written when the sizes the entries declare, plus the margin, exceed the free space, and an
// entry whose data runs past its declared size is stopped there: an archive cannot fill the disk.
ZipOutcome RunZipJob(const ZipJob& job, const PassphraseSource& passphrase);

}  // namespace tandor
