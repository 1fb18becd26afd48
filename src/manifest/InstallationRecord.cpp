#include "manifest/InstallationRecord.h"

#include "settings/IniStore.h"

namespace tandor {

namespace {

// A section name ends at its first "]": a Key holding one is noted under a name with "%5D" in its
// place, which reads back.
std::string SectionOf(const std::string& key) {
  std::string section;
  for (char c : key) section += c == ']' ? std::string("%5D") : std::string(1, c);
  return section;
}

}  // namespace

InstallationRecord::InstallationRecord(IniStore& ini, std::filesystem::path file)
    : mIni(ini), mFile(std::move(file)) {
  mIni.SetWriteBehind(mFile);
}

std::string InstallationRecord::FileVersion(const std::string& key) const {
  return mIni.Read(SectionOf(key), "File Version", mFile);
}

std::string InstallationRecord::ProductVersion(const std::string& key) const {
  return mIni.Read(SectionOf(key), "Product Version", mFile);
}

void InstallationRecord::Write(const FileEntry& entry) {
  const std::string section = SectionOf(entry.Key);
  WriteValue(section, "Filename", entry.Realname);
  WriteValue(section, "Local Path", entry.LocalPath);
  WriteValue(section, "File Version", entry.FileVersion);
  WriteValue(section, "Product Version", entry.ProductVersion);
}

void InstallationRecord::WriteValue(const std::string& section, const char* key,
                                    const std::string& value) {
  // The store leaves a file alone when a key already holds the value, so a pass over an
  // unchanged manifest writes nothing to disk.
  mIni.Write(section, key, value, mFile);
}

void InstallationRecord::Flush() {
  mIni.Flush();
}

}  // namespace tandor
