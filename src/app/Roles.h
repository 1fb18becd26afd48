#pragma once
// What the program's roles share, with and without a window: the window itself comes in as an
// UpdateWindow, so nothing here loads the window system.

#include <memory>
#include <string>
#include <vector>

#include "platform/Prefix.h"
#include "platform/ProcessList.h"
#include "settings/ClientSettings.h"
#include "settings/IniStore.h"
#include "sync/UpdatePass.h"
#include "ui/UpdateWindow.h"
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

// Another launcher's working copy runs already: 0, or with --wait the status that says so.
int AlreadyRunning(const Startup& startup);
bool WorkingCopyRuns(const Startup& startup);

// The launcher's work: refresh the working copy from this file, start it, end. A failure is
// shown in `window`'s message box.
[[noreturn]] void RefreshAndStartWorkingCopy(const Startup& startup, UpdateWindow& window);

// The update pass of the working copy in `window`, to its end; a failure no step handled is
// shown in the window's message box first.
PassOutcome RunPass(const Startup& startup, UpdateWindow& window);

// The machine's IP and MAC addresses, as the address box shows them.
std::string AddressText();

// Ends the program at once with `status`; what was printed is flushed first.
[[noreturn]] void EndProgramNow(int status);

}  // namespace tandor
