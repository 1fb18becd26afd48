#pragma once
// Connection settings and system folders, loaded once at start and only read afterwards.

#include <string>

namespace tandor {

class IniStore;
class Prefix;

struct ClientSettings {
  std::string WinPath;
  std::string SystemDrive;
  std::string WinSysPath;
  std::string ProgramFiles;
  std::string CommonFiles;
  std::string CommonFilesSys;
  std::string DataAccessVersion;
  std::string Method;
  std::string Address;
  std::string Port;
  std::string User;
  std::string Password;
  std::string Root;
  bool Passive = false;  // passive FTP (Passive=1); active by default
  std::string CaFile;    // PEM file of a private authority for HTTPS and FTPS (CAFile=)
};

// Fills the settings from the prefix and from `Tandor.ini` in `appFolder` (Windows form or
// native). With `consume` set (only the role that runs the update pass), the five connection
// keys other than Method, Passive and CAFile are written back empty after reading.
ClientSettings LoadSettings(const Prefix& prefix, IniStore& ini, const std::string& appFolder,
                            bool consume);

// Writes the connection settings into `Tandor.ini` in `folder`, for the updater that takes over
// from a pass that consumed them.
void HandOverSettings(const Prefix& prefix, IniStore& ini, const std::string& folder,
                      const ClientSettings& settings);

// Reads through the store with a path in the program's Windows form.
std::string ReadIniString(IniStore& ini, const Prefix& prefix, const std::string& section,
                          const std::string& key, const std::string& file);

}  // namespace tandor
