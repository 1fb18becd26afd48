#pragma once
// Starting programs from Windows-form command lines, polling their exit codes, and replacing the
// running program by another.

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/ProcessList.h"

namespace tandor {

class Prefix;

// The window styles a program may be started with (the values the manifest uses). Linux has no
// way to tell a new program how to show its first window, so the style is accepted and ignored.
enum class WindowStyle : std::int16_t {
  Hidden = 0,
  NormalFocus = 1,
  MinimizedFocus = 2,
  MaximizedFocus = 3,
  NormalNoFocus = 4,
  MinimizedNoFocus = 6,
};

// Starts `commandLine` ("path arguments", read as ParseCommandLine reads it) as a new process and
// returns at once with its id. The child inherits the environment, the current folder and the
// standard streams, but no other open file. Throws RuntimeError: 53 when the program file does
// not exist, 70 when it is a folder or not executable, another number for other failures.
ProcessId StartProgram(const Prefix& prefix, std::string_view commandLine, WindowStyle style);

// The exit code of a program started by StartProgram, or nothing while it still runs. Never
// blocks. The first call after the end collects the child; a later call for the same id, or a
// call for a process that is not our child, answers 0 once the process is gone.
// A program ended by a signal answers 128 + the signal number, as a shell reports it.
std::optional<int> PollExitCode(ProcessId pid);

// Replaces the running program by `commandLine` in the same process, so that the process id and
// the parent stay while the executable's name changes at once. Open files other than the standard
// streams are not passed on. Returns only by throwing RuntimeError, with the numbers of
// StartProgram.
[[noreturn]] void ReplaceProcess(const Prefix& prefix, std::string_view commandLine);

}  // namespace tandor
