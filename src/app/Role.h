#pragma once

#include <string>

namespace tandor {

enum class Role { None, Publisher, AddressDisplay, Launcher, WorkingCopy, Damaged };

// Picks the role from the argument text, the executable's base name and the InternalName of its
// own version resource. Only the argument and the file's name decide; nothing is read here.
Role DecideRole(const std::string& argumentText, const std::string& baseName,
                const std::string& internalName);

// The argument text: every command-line argument after the program name, joined by one blank.
std::string ArgumentText(int argc, const char* const* argv);

}  // namespace tandor
