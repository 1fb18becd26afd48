#include "app/Roles.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <thread>

#include "app/Options.h"
#include "hostid/AllowRule.h"
#include "hostid/NetX.h"
#include "platform/Error.h"
#include "platform/Executable.h"
#include "platform/FileIo.h"
#include "platform/Process.h"
#include "ui/Messages.h"
#include "util/ProcessCheck.h"
#include "util/WindowCheck.h"

namespace tandor {

namespace {

std::string WorkingCopyName(const Startup& startup) {
  return startup.BaseName + startup.ArgumentText;
}

void ShowRuntimeError(const Startup& startup, UpdateWindow& window, const RuntimeError& error) {
  window.ShowMessage(UpdaterCaption(startup.Version),
                     msg::RuntimeError(error.Number(), error.Description()), MessageIcon::Critical,
                     MessageButtons::Ok);
}

int WaitForExit(ProcessId pid) {
  for (;;) {
    if (std::optional<int> status = PollExitCode(pid)) return *status;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// The process that started this working copy, unless it waits for the pass: the launcher that
// may still be on its way out. Other programs, launchers of other products or folders and the
// publisher window included, never hold the pass.
std::optional<ProcessId> StartingLauncher() {
  const ProcessId parent = getppid();
  const std::vector<ProcessId> waiting = WaitingLaunchers();
  if (std::find(waiting.begin(), waiting.end(), parent) != waiting.end()) return std::nullopt;
  return parent;
}

}  // namespace

std::vector<ProcessId> WaitingLaunchers() {
  std::vector<ProcessId> ids;
  const char* text = std::getenv(kWaitingLauncherVariable);
  std::istringstream words(text ? text : "");
  for (ProcessId pid = 0; words >> pid;) ids.push_back(pid);
  if (ids.empty() || ids.back() != getppid()) return {};
  return ids;
}

void EndProgramNow(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

std::string UpdaterCaption(const ProgramVersion& version) {
  return "Tandor " + std::to_string(version.Major) + "." + std::to_string(version.Minor) + "." +
         std::to_string(version.Revision);
}

int AlreadyRunning(const Startup& startup) {
  if (!startup.Wait) return 0;
  std::fprintf(stderr, "Tandor: the update of %s is already running\n",
               startup.ArgumentText.c_str());
  return exit_status::AlreadyRunning;
}

bool WorkingCopyRuns(const Startup& startup) {
  return IsProcessRunning(WorkingCopyName(startup) + std::string(kExecutableSuffix));
}

void RefreshAndStartWorkingCopy(const Startup& startup, UpdateWindow& window) {
  try {
    const std::string self =
        startup.AppFolder + "\\" + startup.BaseName + std::string(kExecutableSuffix);
    const std::string copy =
        startup.AppFolder + "\\" + WorkingCopyName(startup) + std::string(kExecutableSuffix);
    CopyFileInPlace(startup.Machine->ToNative(self), startup.Machine->ToNative(copy));
    if (startup.Wait) {
      std::string waiting;
      for (ProcessId pid : WaitingLaunchers()) waiting += std::to_string(pid) + " ";
      setenv(kWaitingLauncherVariable, (waiting + std::to_string(getpid())).c_str(), 1);
    }
    const ProcessId pid =
        StartProgram(*startup.Machine, copy + " " + startup.ArgumentText, WindowStyle::NormalFocus);
    if (startup.Wait) EndProgramNow(WaitForExit(pid));
  } catch (const RuntimeError& error) {
    // Only a working copy that runs ("text file busy") is in use: it is still updating. Every
    // other failure, a read-only folder included, is reported.
    if (error.SystemError() == ETXTBSY) EndProgramNow(AlreadyRunning(startup));
    ShowRuntimeError(startup, window, error);
    EndProgramNow(1);
  }
  EndProgramNow(0);
}

PassOutcome RunPass(const Startup& startup, UpdateWindow& window) {
  PassEnvironment env;
  env.Machine = startup.Machine;
  env.Ini = startup.Ini;
  env.Settings = startup.Settings;
  env.AppFolder = startup.AppFolder;
  env.BaseName = startup.BaseName;
  env.ArgumentText = startup.ArgumentText;
  env.Version = startup.Version;
  env.Window = &window;
  env.ReplaceProgram = [&startup](const std::string& commandLine) {
    ReplaceProcess(*startup.Machine, commandLine);
  };
  env.LauncherRunning = [launcher = StartingLauncher()](const std::filesystem::path& file) {
    return launcher && IsRunningFile(*launcher, file);
  };
  env.FormWindowOpen = [](const std::string& caption) { return IsFormWindowOpen(caption); };
  env.Allow = [](const std::string& allow, const std::string& block) {
    return Allow(allow, block);
  };
  PassOutcome outcome = UpdatePass(std::move(env)).Sync();
  // A failure no step handles (a product folder that cannot be created, a manifest that cannot
  // be stored): say what it was rather than vanish.
  if (outcome.Unhandled) ShowRuntimeError(startup, window, *outcome.Unhandled);
  return outcome;
}

std::string AddressText() {
  return "IP Address:\r\n" + GetIpAddressList('\r') + "\r\n\r\nMAC Address:\r\n" +
         GetMacAddressList('\r');
}

}  // namespace tandor
