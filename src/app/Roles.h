#pragma once
// The bodies of the program's roles, each called by Main once it has picked one.

#include <string>

#include "platform/Prefix.h"
#include "settings/ClientSettings.h"
#include "settings/IniStore.h"
#include "util/FileVersion.h"

namespace tandor {

struct Startup {
  char** Argv = nullptr;  // the program name for Qt
  std::string ArgumentText;
  std::string AppFolder;  // as the program shows it: Windows form inside the prefix
  std::string BaseName;
  const Prefix* Machine = nullptr;
  IniStore* Ini = nullptr;
  const ClientSettings* Settings = nullptr;
  ProgramVersion Version;
};

// "Tandor " + major.minor.revision: the update window's caption and the launcher's error title.
std::string UpdaterCaption(const ProgramVersion& version);

int RunLauncher(const Startup& startup);
int RunWorkingCopy(const Startup& startup);
int ShowAddresses(const Startup& startup);
// The publisher window; runs until it is closed.
int RunPublisher(const Startup& startup);
int ShowDamagedFile(const Startup& startup);

// Ends the program at once with `status`; what was printed is flushed first.
[[noreturn]] void EndProgramNow(int status);

}  // namespace tandor
