#include "app/Main.h"

#include <filesystem>
#include <string>

#include "app/Role.h"
#include "app/Roles.h"
#include "platform/Executable.h"
#include "platform/Prefix.h"
#include "settings/ClientSettings.h"
#include "settings/IniStore.h"
#include "util/FileVersion.h"

namespace tandor {

int Main(int argc, char** argv) {
  const std::string argumentText = ArgumentText(argc, argv);
  // Without an argument there is nothing to do: no window, no settings, no file touched.
  if (argumentText.empty()) return 0;

  const std::filesystem::path executable = OwnExecutablePath();
  Prefix prefix = Prefix::Open(Prefix::DefaultRoot());
  const std::string appFolder = prefix.ToWindows(executable.parent_path());
  const std::string baseName = BaseName(executable);

  VersionInfoQuery versions(prefix, prefix.AnsiCodePage());
  const FileVersionFields own = versions.QueryFileVersionInfo(executable.string());
  const Role role = DecideRole(argumentText, baseName, own.InternalName);

  // Only the update pass consumes the connection keys; every other role reads them as they are.
  IniStore ini(prefix.AnsiCodePage());
  const ClientSettings settings = LoadSettings(prefix, ini, appFolder, role == Role::WorkingCopy);

  Startup startup;
  startup.Argv = argv;
  startup.ArgumentText = argumentText;
  startup.AppFolder = appFolder;
  startup.BaseName = baseName;
  startup.Machine = &prefix;
  startup.Ini = &ini;
  startup.Settings = &settings;
  startup.Version = ReadOwnProgramVersion();

  switch (role) {
    case Role::None:
      return 0;
    case Role::Publisher:
      return RunPublisher(startup);
    case Role::AddressDisplay:
      return ShowAddresses(startup);
    case Role::Launcher:
      return RunLauncher(startup);
    case Role::WorkingCopy:
      return RunWorkingCopy(startup);
    case Role::Damaged:
      return ShowDamagedFile(startup);
  }
  return 1;
}

}  // namespace tandor
