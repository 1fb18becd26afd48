#pragma once
// The Windows-style machine the updater sees, kept in one folder: drives, the Windows and system
// folders, a registry file and the ANSI code page. All conversion between the program's
// Windows-form paths and native paths lives here.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/CodePage.h"

namespace tandor {

class Prefix {
 public:
  // Uses `root` as it is; Create() lays out a missing prefix.
  explicit Prefix(std::filesystem::path root);

  // $TANDOR_PREFIX, else $XDG_DATA_HOME/tandor, else ~/.local/share/tandor.
  static std::filesystem::path DefaultRoot();
  // Opens the prefix at `root`, creating drive C:, the Windows, system and program-files folders
  // and the registry file when they are missing. What could not be created is in CreateError().
  static Prefix Open(const std::filesystem::path& root);

  // Why the prefix could not be laid out ("" when it could).
  const std::string& CreateError() const { return mCreateError; }

  const std::filesystem::path& Root() const { return mRoot; }
  std::filesystem::path RegistryFile() const { return mRoot / "registry.ini"; }

  // "C:\Windows", "C:\Windows\System32".
  std::string WindowsFolder() const { return "C:\\Windows"; }
  std::string SystemFolder() const { return "C:\\Windows\\System32"; }

  // X:\a\b -> <root>/drive_x/a/b, resolved as Windows does: a rooted path without a drive is
  // on C:, ".." never climbs above a drive's root. A native absolute path stays where it is
  // (normalised); any other path is relative, with '\' -> '/'.
  std::filesystem::path ToNative(std::string_view path) const;
  // True when the native path lies inside one of the prefix's drives.
  bool HoldsPath(const std::filesystem::path& native) const;
  // A native path inside a drive of the prefix in Windows form (X:\a\b), any other path as it is.
  std::string ToWindows(const std::filesystem::path& native) const;

  // A registry value under HKEY_LOCAL_MACHINE, key written as in "SOFTWARE\Microsoft\Windows".
  // Missing file, key or value: nothing.
  std::optional<std::string> ReadRegistryValue(std::string_view key, std::string_view name) const;
  // Every value under the key, names as written, in the file's order.
  std::vector<std::pair<std::string, std::string>> ReadRegistryValues(std::string_view key) const;
  // Writes a registry value (setup, tests, and the highest manifest serial a pass accepted).
  void WriteRegistryValue(std::string_view key, std::string_view name,
                          std::string_view value) const;

  // The ANSI code page from the registry (ACP), UTF-8 when it is missing or not a number.
  CodePage AnsiCodePage() const;

 private:
  std::filesystem::path mRoot;
  std::filesystem::path mNormalRoot;  // mRoot.lexically_normal(), for the many path checks
  std::string mCreateError;
};

}  // namespace tandor
