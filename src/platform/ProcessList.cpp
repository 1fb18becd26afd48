#include "platform/ProcessList.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <memory>

#include "platform/FileDescriptor.h"

namespace tandor {

namespace {

// What /proc/<pid>/exe adds to a program file that was replaced or removed while it runs.
constexpr std::string_view kDeleted = " (deleted)";

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

std::string BaseName(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// Reads a small /proc file whole; empty when it cannot be read.
std::string ReadProcFile(const std::string& path) {
  FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return {};
  std::string text;
  std::array<char, 4096> buffer;
  for (;;) {
    ssize_t n = read(fd.Get(), buffer.data(), buffer.size());
    if (n <= 0) break;
    text.append(buffer.data(), static_cast<std::size_t>(n));
  }
  return text;
}

struct LinkResult {
  std::optional<std::string> Target;
  int Error = 0;
};

LinkResult ReadLink(const std::string& path) {
  std::array<char, 4096> buffer;
  ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
  if (n < 0) return {std::nullopt, errno};
  if (n == 0 || static_cast<std::size_t>(n) >= buffer.size()) return {std::nullopt, ENAMETOOLONG};
  return {std::string(buffer.data(), static_cast<std::size_t>(n)), 0};
}

// The name in /proc/<pid>/stat sits between the first '(' and the last ')': the name itself
// may contain parentheses and blanks.
struct StatFields {
  std::string Name;
  char State = '?';
};

std::optional<StatFields> ParseStat(std::string_view stat) {
  std::size_t open = stat.find('(');
  std::size_t close = stat.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open)
    return std::nullopt;
  StatFields fields;
  fields.Name = std::string(stat.substr(open + 1, close - open - 1));
  if (close + 2 < stat.size()) fields.State = stat[close + 2];
  return fields;
}

bool IsAllDigits(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text)
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  return true;
}

}  // namespace

namespace {

std::vector<ProcessId> ListIds(bool ownOnly) {
  std::vector<ProcessId> ids;
  DirHandle proc(opendir("/proc"));
  if (!proc) return ids;
  const uid_t me = ::geteuid();
  while (dirent* entry = readdir(proc.get())) {
    if (!IsAllDigits(entry->d_name)) continue;
    struct stat info {};
    if (ownOnly &&
        (::fstatat(dirfd(proc.get()), entry->d_name, &info, 0) != 0 || info.st_uid != me))
      continue;
    ids.push_back(std::stoi(entry->d_name));
  }
  return ids;
}

}  // namespace

std::vector<ProcessId> ListProcessIds() {
  return ListIds(false);
}

std::vector<ProcessId> ListOwnProcessIds() {
  return ListIds(true);
}

std::optional<std::string> ProcessExecutable(ProcessId pid) {
  std::optional<std::string> target = ReadLink("/proc/" + std::to_string(pid) + "/exe").Target;
  if (target && target->ends_with(kDeleted)) target->resize(target->size() - kDeleted.size());
  return target;
}

std::string ProcessImageNameFrom(const std::optional<std::string>& exeTarget,
                                 std::string_view cmdline, std::string_view stat) {
  if (exeTarget && !exeTarget->empty()) {
    // A program whose file was replaced while it runs still runs under its name.
    std::string_view target = *exeTarget;
    if (target.ends_with(kDeleted)) target.remove_suffix(kDeleted.size());
    return BaseName(target);
  }
  std::optional<StatFields> fields = ParseStat(stat);
  // Zombies and dead processes have ended; only their exit status is left for the parent.
  if (fields && (fields->State == 'Z' || fields->State == 'X')) return {};
  std::string_view first = cmdline.substr(0, cmdline.find('\0'));
  if (!first.empty()) return BaseName(first);
  return fields ? fields->Name : std::string();
}

std::string ProcessImageName(ProcessId pid) {
  std::string dir = "/proc/" + std::to_string(pid);
  LinkResult exe = ReadLink(dir + "/exe");
  if (exe.Target) return ProcessImageNameFrom(exe.Target, {}, {});
  // No executable at all: a kernel thread, a zombie, or a process that is gone. None of them is
  // a program anybody waits for, and skipping them spares the two further reads that make up
  // most of the cost of a look on a machine with many kernel threads.
  if (exe.Error == ENOENT) return {};
  std::string stat = ReadProcFile(dir + "/stat");
  if (stat.empty()) return {};  // gone meanwhile
  return ProcessImageNameFrom(std::nullopt, ReadProcFile(dir + "/cmdline"), stat);
}

}  // namespace tandor
