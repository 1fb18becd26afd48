#include "manifest/InstallationRecord.h"

#include "settings/IniStore.h"

namespace tandor {

InstallationRecord::InstallationRecord(IniStore& ini, std::filesystem::path file)
    : mIni(ini), mFile(std::move(file)) {
  mIni.SetWriteBehind(mFile);
}

std::string InstallationRecord::FileVersion(const std::string& key) const {
  return mIni.Read(key, "File Version", mFile);
}

std::string InstallationRecord::ProductVersion(const std::string& key) const {
  return mIni.Read(key, "Product Version", mFile);
}

void InstallationRecord::Write(const FileEntry& entry) {
  WriteValue(entry.Key, "Filename", entry.Realname);
  WriteValue(entry.Key, "Local Path", entry.LocalPath);
  WriteValue(entry.Key, "File Version", entry.FileVersion);
  WriteValue(entry.Key, "Product Version", entry.ProductVersion);
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
