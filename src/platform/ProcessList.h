#pragma once
// The processes of the machine as /proc shows them, each named by the file name of its executable.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tandor {

using ProcessId = int;

// The ids of all processes now running, in the order /proc lists them. Empty when /proc cannot
// be read.
std::vector<ProcessId> ListProcessIds();
// The same, only those that run as this process's user: another user's programs are theirs.
std::vector<ProcessId> ListOwnProcessIds();

// The bare file name of the process's executable. Empty when the process is gone, has already
// ended (a zombie waiting for its parent) or has no executable (a kernel thread), so an ended
// program never counts as running.
std::string ProcessImageName(ProcessId pid);

// The path of the program file the process runs, as the kernel resolved it; a file replaced
// while it runs still counts under its path. Nothing when the process is gone, has ended or
// belongs to another user.
std::optional<std::string> ProcessExecutable(ProcessId pid);

// The naming rule on the raw facts of one process: `exeTarget` is the target of /proc/<pid>/exe
// (nothing when it cannot be read, as for other users' processes and kernel threads), `cmdline`
// the raw bytes of /proc/<pid>/cmdline and `stat` the text of /proc/<pid>/stat.
// The executable's file name wins; else the file name of the first command-line word; else the
// name in `stat`, which the kernel cuts at 15 bytes.
std::string ProcessImageNameFrom(const std::optional<std::string>& exeTarget,
                                 std::string_view cmdline, std::string_view stat);

}  // namespace tandor
