#include "app/Main.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "app/Options.h"
#include "app/Role.h"
#include "app/Roles.h"
#include "app/SystemWide.h"
#include "app/WindowRoles.h"
#include "platform/Error.h"
#include "platform/Executable.h"
#include "platform/Prefix.h"
#include "platform/Process.h"
#include "platform/Unattended.h"
#include "settings/ClientSettings.h"
#include "settings/IniStore.h"
#include "ui/ConsoleWindow.h"
#include "ui/Messages.h"
#include "util/FileVersion.h"

namespace tandor {

namespace {

std::string OwnVersionText(const std::filesystem::path& executable) {
  Prefix machine(Prefix::DefaultRoot());
  VersionInfoQuery versions(machine, machine.AnsiCodePage());
  return "Tandor " + versions.QueryFileVersionInfo(executable.string()).FileVersion;
}

// A message box, or its text on standard error when nobody watches; returns `status`.
int ShowBox(const Startup& startup, const std::string& title, const std::string& text,
            MessageIcon icon, int status) {
  if (IsUnattended()) {
    PrintUnattendedMessage(title, text);
    return status;
  }
  return Windows().ShowMessage(startup, title, text, icon, status);
}

int ShowStartupError(const Startup& startup, const std::string& text, int status) {
  return ShowBox(startup, msg::kApplicationTitle, text, MessageIcon::Critical, status);
}

// The publisher is a window for an operator at a screen: without one it would wait, unseen, for
// clicks that never come. It says so and ends as a window that cannot be shown does.
int NoDisplayForPublisher(const std::string& why) {
  std::fprintf(stderr, "%s\nTandor: the publisher window needs a display: %s\n",
               msg::kPublisherNeedsDisplay, why.c_str());
  return exit_status::Unavailable;
}

// Unattended, the launcher and the working copy show no window and load no window system.
int RunLauncher(const Startup& startup) {
  if (!IsUnattended()) return Windows().RunLauncher(startup);
  if (WorkingCopyRuns(startup)) return AlreadyRunning(startup);
  ConsoleWindow console;
  RefreshAndStartWorkingCopy(startup, console);
}

int RunWorkingCopy(const Startup& startup) {
  if (!IsUnattended()) return Windows().RunWorkingCopy(startup);
  ConsoleWindow console;
  // Nobody is there to press EXIT: a pass that waits for it ends as well.
  EndProgramNow(RunPass(startup, console).Status);
}

}  // namespace

int Main(int argc, char** argv) {
  const CommandLineOptions options = ParseOptions(argc, argv);
  const std::filesystem::path executable = OwnExecutablePath();
  switch (options.What) {
    case CommandLineOptions::Action::Help:
      std::fputs(UsageText().c_str(), stdout);
      return 0;
    case CommandLineOptions::Action::Version:
      std::printf("%s\n", OwnVersionText(executable).c_str());
      return 0;
    case CommandLineOptions::Action::Usage:
      std::fprintf(stderr, "Tandor: %s\n%s", options.Problem.c_str(), UsageText().c_str());
      return exit_status::Usage;
    case CommandLineOptions::Action::Run:
      break;
  }
  const std::string& argumentText = options.ArgumentText;
  // Without an argument there is nothing to do: no window, no settings, no file touched.
  if (argumentText.empty()) return 0;

  Prefix prefix = Prefix::Open(Prefix::DefaultRoot());
  std::filesystem::path appFolderNative = executable.parent_path();
  const std::string baseName = BaseName(executable);

  VersionInfoQuery versions(prefix, prefix.AnsiCodePage());
  const FileVersionFields own = versions.QueryFileVersionInfo(executable.string());
  const Role role = DecideRole(argumentText, baseName, own.InternalName);
  if (role == Role::Publisher) {
    if (const std::optional<std::string> why = WhyUnattended()) return NoDisplayForPublisher(*why);
  }

  Startup startup;
  startup.Argv = argv;
  startup.ArgumentText = argumentText;
  startup.BaseName = baseName;
  startup.Machine = &prefix;
  startup.Version = ReadOwnProgramVersion();
  // A launcher started by a working copy that replaced itself waits like the one above it.
  startup.Wait = options.Wait || !WaitingLaunchers().empty();

  if (!prefix.CreateError().empty())
    return ShowStartupError(startup, "프리픽스 폴더를 만들 수 없습니다.\r\n" + prefix.CreateError(),
                            exit_status::CannotCreate);

  // Installed system-wide: the application folder moves into the prefix, and the launcher runs
  // its copy there.
  if (role != Role::None && IsSystemFolder(appFolderNative)) {
    const std::filesystem::path ownSettings = appFolderNative / "Tandor.ini";
    appFolderNative = SystemWideAppFolder(prefix);
    try {
      PrepareAppFolder(appFolderNative, {ownSettings, kSystemSettingsFile});
      if (role == Role::Launcher) {
        PlaceLauncherCopy(executable, appFolderNative, executable.filename().string());
        const std::string copy = prefix.ToWindows(appFolderNative / executable.filename());
        ReplaceProcess(prefix, copy + (options.Wait ? " --wait " : " ") + argumentText);
      }
    } catch (const RuntimeError& error) {
      return ShowStartupError(startup,
                              "응용 프로그램 폴더를 준비할 수 없습니다.\r\n" + error.Description(),
                              exit_status::CannotCreate);
    }
  }
  const std::string appFolder = prefix.ToWindows(appFolderNative);
  startup.AppFolder = appFolder;

  // Only the update pass consumes the connection keys; every other role reads them as they are.
  IniStore ini(prefix.AnsiCodePage());
  const ClientSettings settings = LoadSettings(prefix, ini, appFolder, role == Role::WorkingCopy);
  startup.Ini = &ini;
  startup.Settings = &settings;

  switch (role) {
    case Role::None:
      return 0;
    case Role::Publisher:
      return Windows().RunPublisher(startup);
    case Role::AddressDisplay:
      return ShowBox(startup, "NET Address", AddressText(), MessageIcon::Information, 0);
    case Role::Launcher:
      return RunLauncher(startup);
    case Role::WorkingCopy:
      return RunWorkingCopy(startup);
    case Role::Damaged:
      return ShowBox(startup, msg::kApplicationTitle, msg::kDamagedFile, MessageIcon::Critical, 1);
  }
  return 1;
}

}  // namespace tandor
