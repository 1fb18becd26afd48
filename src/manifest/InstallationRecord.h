#pragma once
// The installation record (Version.ini in the product folder): per entry Key, the manifest values
// of the last pass that walked the entry.

#include <filesystem>
#include <string>

#include "manifest/FileEntry.h"

namespace tandor {

class IniStore;

class InstallationRecord {
 public:
  // `file` is the native path of the record. Writes are kept in memory and reach the disk at the
  // store's interval and at Flush().
  InstallationRecord(IniStore& ini, std::filesystem::path file);

  const std::filesystem::path& File() const { return mFile; }

  // "File Version" and "Product Version" noted for `key`; empty when there is none.
  std::string FileVersion(const std::string& key) const;
  std::string ProductVersion(const std::string& key) const;

  // Notes the entry under its Key: Filename (the Realname), Local Path, File Version and
  // Product Version. Values already stored unchanged are not written again, so a pass over an
  // unchanged manifest leaves the file untouched.
  void Write(const FileEntry& entry);

  // Puts every pending write on disk; call before the program may end at once.
  void Flush();

 private:
  void WriteValue(const std::string& section, const char* key, const std::string& value);

  IniStore& mIni;
  std::filesystem::path mFile;
};

}  // namespace tandor
