#include "app/Main.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/Role.h"
#include "platform/Executable.h"
#include "platform/Prefix.h"
#include "settings/ClientSettings.h"
#include "settings/IniStore.h"
#include "util/FileVersion.h"

namespace tandor {

namespace {

int RoleNotBuilt(const char* role) {
  std::fprintf(stderr, "Tandor: the %s is not available in this build\n", role);
  return 1;
}

}  // namespace

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
  ClientSettings settings = LoadSettings(prefix, ini, appFolder, role == Role::WorkingCopy);
  (void)settings;

  switch (role) {
    case Role::None:
      return 0;
    case Role::Publisher:
      return RoleNotBuilt("publisher window");
    case Role::AddressDisplay:
      return RoleNotBuilt("address display");
    case Role::Launcher:
      return RoleNotBuilt("launcher");
    case Role::WorkingCopy:
      return RoleNotBuilt("update pass");
    case Role::Damaged:
      return RoleNotBuilt("damaged-file message");
  }
  return 1;
}

}  // namespace tandor
