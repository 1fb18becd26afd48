#pragma once
// Registering components through the system's registration tool.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ProcessList.h"

namespace tandor {

struct ClientSettings;
class Prefix;

// Mode -1 registers `path`, 0 unregisters it, through `WinSysPath`\REGSVR32.exe /S [/U] started
// hidden; the path is appended as it is (a caller with blanks in it supplies the quotes). Returns
// at once with the tool's process id, without waiting for it. Any other mode starts nothing.
// A tool that cannot be started throws RuntimeError like any other program start.
std::optional<ProcessId> RunRegsvr32(const ClientSettings& settings, const Prefix& prefix,
                                     const std::string& path, std::int16_t mode);

}  // namespace tandor
