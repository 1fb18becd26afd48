#include "manifest/ManifestReader.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

#include "manifest/ManifestRules.h"
#include "settings/IniStore.h"
#include "text/TextCase.h"
#include "util/PathMacros.h"

namespace tandor {

namespace {

// A whole number of bytes, 0 or more, and nothing else.
std::optional<std::int64_t> ParseByteCount(std::string_view text) {
  std::int64_t bytes = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bytes);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || bytes < 0)
    return std::nullopt;
  return bytes;
}

std::string SectionOf(long number) {
  return "File" + std::to_string(number);
}

// An empty folder, or the current folder, stands for the entry's own folder.
bool MeansLocalPath(const std::string& extractTo) {
  return extractTo.empty() || extractTo == ".\\";
}

constexpr std::pair<std::string_view, CopyMode> kCopyModes[] = {
    {"Normal", CopyMode::Normal},
    {"SkipIfSame", CopyMode::SkipIfSame},
    {"SkipIfExists", CopyMode::SkipIfExists},
    {"Force", CopyMode::Force}};

// The switches of an entry are on only when written "1".
bool IsOn(const std::string& value) {
  return value == "1";
}

// "<SHA-256 of the old file>,<patch file name>". The patch lies in the entry's own server folder:
// a name that leads anywhere else is no patch name.
std::optional<EntryDelta> ParseDelta(std::string_view value) {
  const std::size_t comma = value.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  const std::optional<Sha256Digest> base = ParseSha256(value.substr(0, comma));
  const std::string_view patch = value.substr(comma + 1);
  if (!base || patch.empty() || patch.find_first_of("/\\") != std::string_view::npos ||
      patch.find("..") != std::string_view::npos)
    return std::nullopt;
  return EntryDelta{*base, std::string(patch)};
}

}  // namespace

CopyMode ParseCopyMode(std::string_view text) {
  return NamedValue(text, kCopyModes, CopyMode::Other);
}

std::string ManifestFileName(const ProgramVersion& version) {
  return "Tandor" + std::to_string(version.Major) + std::to_string(version.Minor) + ".ini";
}

namespace {

// Digits only, no larger than `largest`; an empty text is 0.
bool ParseWholeNumber(const std::string& value, long largest, int& number) {
  if (!std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  long result = 0;
  for (char c : value) {
    result = result * 10 + (c - '0');
    if (result > largest) return false;
  }
  number = static_cast<int>(result);
  return true;
}

}  // namespace

bool ParseExecuteNumber(const std::string& value, int& number) {
  return ParseWholeNumber(value, 32767, number);  // the number is a 16-bit signed integer
}

ManifestReader::ManifestReader(IniStore& ini, std::filesystem::path manifest,
                               const ClientSettings& settings, std::string appFolder)
    : mIni(ini),
      mManifest(std::move(manifest)),
      mSettings(settings),
      mAppFolder(std::move(appFolder)) {}

std::string ManifestReader::Value(const std::string& section, const char* key) const {
  return mIni.Read(section, key, mManifest);
}

std::string ManifestReader::Expand(const std::string& text) const {
  return ExpandPathMacros(text, mSettings, mAppFolder);
}

FilesSettings ManifestReader::ReadFilesSettings() const {
  FilesSettings files;
  files.ExecuteText = Value("Files", "Execute");
  files.ExecuteIsNumber = ParseExecuteNumber(files.ExecuteText, files.Execute);
  if (!files.ExecuteIsNumber) files.Execute = 0;
  files.ExecuteOption = Value("Files", "Execute Option");
  files.RolloutText = Value("Files", "Rollout");
  int percent = 0;
  files.RolloutIsNumber =
      files.RolloutText.empty() || ParseWholeNumber(files.RolloutText, 100, percent);
  if (files.RolloutIsNumber && !files.RolloutText.empty()) files.Rollout = percent;
  files.Fallback = Value("Files", "Fallback");
  files.VerifyText = Value("Files", "Verify");
  files.VerifyIsNumber = ParseWholeNumber(files.VerifyText, 3600, files.Verify);
  if (!files.VerifyIsNumber) files.Verify = 0;
  return files;
}

std::string ManifestReader::ReadKey(long number) const {
  return Value(SectionOf(number), "Key");
}

FileEntry ManifestReader::ReadEntry(long number) const {
  return ReadEntry(number, ReadKey(number));
}

FileEntry ManifestReader::ReadEntry(long number, std::string key) const {
  const std::string section = SectionOf(number);
  FileEntry entry;
  entry.Key = std::move(key);
  entry.Filename = Value(section, "Filename");
  entry.Realname = Value(section, "Realname");
  entry.Caption = Value(section, "Caption");
  entry.ServerPath = ReplaceIgnoringCase(Value(section, "Server Path"), "$Root", mSettings.Root);
  entry.LocalPath = Expand(Value(section, "Local Path"));
  entry.FileVersion = Value(section, "File Version");
  entry.ProductVersion = Value(section, "Product Version");
  entry.SelfRegister = EqualsIgnoreCase(Value(section, "Register"), "$(DLLSelfRegister)");
  entry.Copy = ParseCopyMode(Value(section, "CopyMode"));
  entry.Execute = Value(section, "Execute");
  entry.ExecuteOption = Expand(Value(section, "Execute Option"));
  entry.Wait = IsOn(Value(section, "Wait"));
  entry.Extract = IsOn(Value(section, "Extract"));
  std::string extractTo = Value(section, "Extract To");
  std::replace(extractTo.begin(), extractTo.end(), '/', '\\');
  entry.ExtractTo = Expand(extractTo);
  if (MeansLocalPath(entry.ExtractTo)) entry.ExtractTo = entry.LocalPath;
  entry.AllowList = Value(section, "Allow");
  entry.BlockList = Value(section, "Block");
  entry.Sha256 = Value(section, "SHA256");
  if (!entry.Sha256.empty()) entry.Digest = ParseSha256(entry.Sha256);
  entry.Size = Value(section, "Size");
  entry.SizeLimit = ParseByteCount(entry.Size);
  ReadDeltas(section, entry);
  return entry;
}

void ManifestReader::ReadDeltas(const std::string& section, FileEntry& entry) const {
  for (int number = 1; number <= kMostDeltas; ++number) {
    const std::string key = "Delta" + std::to_string(number);
    const std::string value = Value(section, key.c_str());
    if (value.empty()) break;
    if (std::optional<EntryDelta> delta = ParseDelta(value))
      entry.Deltas.push_back(std::move(*delta));
    else
      entry.IgnoredDeltas.push_back(key + "=" + value);
  }
}

std::vector<FileEntry> ManifestReader::ReadEntries() const {
  std::vector<FileEntry> entries;
  for (long number = 1;; ++number) {
    std::string key = ReadKey(number);
    if (key.empty()) break;
    entries.push_back(ReadEntry(number, std::move(key)));
  }
  return entries;
}

}  // namespace tandor
