#pragma once
// Reading a product's manifest: its name, the "[Files]" settings and the numbered entries.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "manifest/FileEntry.h"
#include "settings/ClientSettings.h"
#include "util/FileVersion.h"

namespace tandor {

class IniStore;

// "Tandor" + major + minor + ".ini": version 1.0 reads Tandor10.ini.
std::string ManifestFileName(const ProgramVersion& version);

// The whole-manifest settings of section "Files".
struct FilesSettings {
  // Number of the entry whose installed file is started when the pass ends; 0 starts nothing.
  int Execute = 0;
  // False when "Execute" is neither empty nor a whole number from 0 to 32767; Execute is then 0
  // and ExecuteText tells the pass what was written.
  bool ExecuteIsNumber = true;
  std::string ExecuteText;
  std::string ExecuteOption;  // as written, not expanded
  // Rollout=: the share of machines in percent (0 to 100) that take this manifest; nothing when
  // the key is absent or empty. RolloutIsNumber is false for any other text (RolloutText).
  std::optional<int> Rollout;
  bool RolloutIsNumber = true;
  std::string RolloutText;
  // Fallback=: the manifest, beside this one on the server, that the other machines take.
  std::string Fallback;
  // Verify=: how many seconds (0 to 3600) the final program is watched after an install; 0
  // (absent, empty) watches nothing. VerifyIsNumber is false for any other text (VerifyText).
  int Verify = 0;
  bool VerifyIsNumber = true;
  std::string VerifyText;
};

// Forms the "Execute" number of "[Files]": "0" followed by the value, read as a 16-bit number.
// Returns false for anything else.
bool ParseExecuteNumber(const std::string& value, int& number);

class ManifestReader {
 public:
  // `manifest` is the native path of the local copy; `appFolder` is what "$(AppPath)" expands to.
  ManifestReader(IniStore& ini, std::filesystem::path manifest, const ClientSettings& settings,
                 std::string appFolder);

  FilesSettings ReadFilesSettings() const;

  // "Key" of section "File" + number; empty ends the entry list.
  std::string ReadKey(long number) const;
  // Every manifest value of entry `number` into a new element; the installed versions and the
  // flags stay empty.
  FileEntry ReadEntry(long number) const;
  // The same with the "Key" already read.
  FileEntry ReadEntry(long number, std::string key) const;
  // The entries File1, File2, ... up to the first one whose "Key" is empty.
  std::vector<FileEntry> ReadEntries() const;

 private:
  std::string Value(const std::string& section, const char* key) const;
  std::string Expand(const std::string& text) const;
  // "Delta1", "Delta2", ... up to the first one missing, at most kMostDeltas.
  void ReadDeltas(const std::string& section, FileEntry& entry) const;

  IniStore& mIni;
  std::filesystem::path mManifest;
  const ClientSettings& mSettings;
  std::string mAppFolder;
};

}  // namespace tandor
