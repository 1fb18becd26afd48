#pragma once
// Everything the update pass takes from the program around it. The defaults are the real
// services; tests replace the ones they need to observe.

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/FreeSpace.h"
#include "settings/ClientSettings.h"
#include "sync/EntryRules.h"
#include "ui/UpdateWindow.h"
#include "util/FileVersion.h"

namespace tandor {

class IniStore;
class Prefix;

struct PassEnvironment {
  const Prefix* Machine = nullptr;
  IniStore* Ini = nullptr;
  const ClientSettings* Settings = nullptr;
  std::string AppFolder;     // the application folder as the program shows it
  std::string BaseName;      // the working copy's own file name without suffix
  std::string ArgumentText;  // the product
  ProgramVersion Version;
  UpdateWindow* Window = nullptr;
  // Replaces the running program by a command line; returns only by throwing RuntimeError.
  std::function<void(const std::string&)> ReplaceProgram;
  // Whether the launcher this pass may replace still runs its file `launcher`: only the one that
  // started the pass counts, and not when it waits for the pass to end.
  std::function<bool(const std::filesystem::path& launcher)> LauncherRunning;
  // How long the pass waits for that launcher before it goes on without replacing it.
  std::chrono::milliseconds LauncherWaitLimit{60000};
  std::function<bool(const std::string&)> FormWindowOpen;
  AllowRule Allow;
  // A transfer that moves (almost) nothing for this long fails.
  std::chrono::seconds TransferIdleLimit{60};
  // Where the free space of a download's or an extraction's folder comes from; empty: the file
  // system's.
  FreeSpaceSource FreeSpace;
};

}  // namespace tandor
