#pragma once

#include <string>

#include "settings/ClientSettings.h"

namespace tandor {

// Replaces the folder macros "$(AppPath)", "$(SystemDrive)", "$(WinPath)", "$(WinSysPath)",
// "$(ProgramFiles)", "$(CommonFiles)" and "$(CommonFilesSys)", in that order and without regard
// to case. `appFolder` is the application folder as the program shows it.
std::string ExpandPathMacros(const std::string& text, const ClientSettings& settings,
                             const std::string& appFolder);

// Replaces every occurrence of `name` in `text`, ignoring the case of ASCII letters, scanning
// left to right without overlap.
std::string ReplaceIgnoringCase(const std::string& text, const std::string& name,
                                const std::string& value);

}  // namespace tandor
