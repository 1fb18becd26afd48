#pragma once
// The roles that show a window. They live in a library of their own, which the program carries
// inside its one file and loads only when a window is shown: an unattended pass never loads the
// window system's libraries.

#include <string>

#include "app/Roles.h"
#include "ui/UpdateWindow.h"

namespace tandor {

struct WindowRoles {
  int (*RunLauncher)(const Startup& startup);
  int (*RunWorkingCopy)(const Startup& startup);
  // The publisher window; runs until it is closed.
  int (*RunPublisher)(const Startup& startup);
  // One message box; returns `status` once it is closed.
  int (*ShowMessage)(const Startup& startup, const std::string& title, const std::string& text,
                     MessageIcon icon, int status);
};

// The library's one entry point, by this name.
inline constexpr const char* kWindowRolesEntry = "TandorWindowRoles";
using WindowRolesEntry = const WindowRoles* (*)();

// The roles of the library carried inside the program, loaded at the first call. A library that
// cannot be loaded ends the program with a message on standard error.
const WindowRoles& Windows();

}  // namespace tandor
