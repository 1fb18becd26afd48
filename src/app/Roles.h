#pragma once
// The bodies of the program's roles, each called by Main once it has picked one.

#include <string>
#include <vector>

#include "platform/Prefix.h"
#include "platform/ProcessList.h"
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
  bool Wait = false;  // the launcher waits for the working copy and returns its status
};

// A waiting launcher adds its process id to this variable for the working copy it starts. A
// working copy that replaces itself by a new launcher keeps its process, so that launcher finds
// its parent last in the list and waits in its turn: the first caller gets the fresh pass's
// status. The working copy does not wait for the launchers that wait for it.
inline constexpr const char* kWaitingLauncherVariable = "TANDOR_WAITING_LAUNCHERS";

// The ids of the launchers that wait for this process, empty when its parent is not one.
std::vector<ProcessId> WaitingLaunchers();

// "Tandor " + major.minor.revision: the update window's caption and the launcher's error title.
std::string UpdaterCaption(const ProgramVersion& version);

int RunLauncher(const Startup& startup);
int RunWorkingCopy(const Startup& startup);
int ShowAddresses(const Startup& startup);
// The publisher window; runs until it is closed.
int RunPublisher(const Startup& startup);
int ShowDamagedFile(const Startup& startup);
// Shows a failure at start (title Tandor, critical icon) and returns `status`.
int ShowStartupError(const Startup& startup, const std::string& text, int status);

// Ends the program at once with `status`; what was printed is flushed first.
[[noreturn]] void EndProgramNow(int status);

}  // namespace tandor
