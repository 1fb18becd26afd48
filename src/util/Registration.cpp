#include "util/Registration.h"

#include "platform/Process.h"
#include "settings/ClientSettings.h"

namespace tandor {

std::optional<ProcessId> RunRegsvr32(const ClientSettings& settings, const Prefix& prefix,
                                     const std::string& path, std::int16_t mode) {
  std::string commandLine;
  if (mode == -1)
    commandLine = settings.WinSysPath + "\\REGSVR32.exe /S " + path;
  else if (mode == 0)
    commandLine = settings.WinSysPath + "\\REGSVR32.exe /S /U " + path;
  else
    return std::nullopt;
  return StartProgram(prefix, commandLine, WindowStyle::Hidden);
}

}  // namespace tandor
