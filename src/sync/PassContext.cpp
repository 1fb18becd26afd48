#include "sync/PassContext.h"

#include <sys/stat.h>

#include <thread>

#include "manifest/FileEntry.h"
#include "manifest/ManifestReader.h"
#include "platform/Executable.h"
#include "platform/Prefix.h"
#include "text/TextCase.h"
#include "transfer/Downloader.h"
#include "ui/Messages.h"
#include "util/FileVersion.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Polling a launcher: often enough to feel immediate, rarely enough to leave the processor
// alone.
constexpr auto kPollInterval = std::chrono::milliseconds(10);
// A wait for the launcher longer than this is shown: something holds it.
constexpr auto kLauncherNotice = std::chrono::seconds(1);

// Every occurrence of `what` removed from `text`, compared byte for byte.
std::string RemoveAll(std::string text, const std::string& what) {
  if (what.empty()) return text;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at))
    text.erase(at, what.size());
  return text;
}

}  // namespace

void MakeRunnable(const fs::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  mode_t mode = info.st_mode & 07777;
  mode |= (mode & 0444) >> 2;  // execute wherever read is allowed
  if (mode != (info.st_mode & 07777)) ::chmod(file.c_str(), mode);
}

PassContext::PassContext(PassEnvironment environment)
    : Env(std::move(environment)),
      ErrLog(Env.Machine->ToNative(Env.AppFolder + "\\Err.log"), Env.Machine->AnsiCodePage()) {}

PassContext::~PassContext() = default;

void PassContext::StopIfExitRequested() const {
  if (Env.Window->ExitRequested()) throw Stop{Worse(Status, pass_status::EntryFailed)};
}

void PassContext::Pump() {
  StopIfExitRequested();
  Env.Window->ProcessPendingMessages();
  StopIfExitRequested();
}

void PassContext::Report(const std::string& line) {
  Env.Window->AddLine(line);
  ErrLog.WriteLine(line);
}

void PassContext::FailEntry(const std::string& description, const std::string& filename) {
  Report("Error:" + description + " (" + filename + ")");
}

std::string PassContext::FailureText(const TransferResult& result) {
  return result.ProxyRefused ? msg::ProxyRefused(result.Text) : result.Text;
}

std::optional<ProcessId> PassContext::Start(const std::string& commandLine, WindowStyle style,
                                            const std::string& filename) {
  try {
    return StartProgram(*Env.Machine, commandLine, style);
  } catch (const RuntimeError& error) {
    FailEntry(error.Description(), filename);
    return std::nullopt;
  }
}

std::optional<ProcessId> PassContext::StartInstalled(const FileEntry& entry,
                                                     const std::string& options,
                                                     WindowStyle style) {
  MakeRunnable(Native(entry.TargetPath()));
  return Start(entry.TargetPath() + " " + options, style, entry.Filename);
}

void PassContext::WaitForLauncher() {
  VersionInfoQuery versions(*Env.Machine, Env.Machine->AnsiCodePage());
  const FileVersionFields own = versions.QueryFileVersionInfo(Env.AppFolder + "\\" + Env.BaseName +
                                                              std::string(kExecutableSuffix));
  const std::string launcher =
      Env.AppFolder + "\\" + own.InternalName + std::string(kExecutableSuffix);
  const fs::path native = Native(launcher);
  const auto start = std::chrono::steady_clock::now();
  bool said = false;
  while (Env.LauncherRunning(native)) {
    const auto waited = std::chrono::steady_clock::now() - start;
    if (waited >= Env.LauncherWaitLimit) {
      // A launcher ends within milliseconds of starting the pass; one that does not is stuck,
      // and waiting longer would hold this product's update for nothing.
      Report(msg::LauncherStillRuns(
          launcher,
          std::chrono::duration_cast<std::chrono::seconds>(Env.LauncherWaitLimit).count()));
      LauncherHeld = true;
      return;
    }
    if (!said && waited >= kLauncherNotice) {
      Report(msg::WaitingForLauncher(launcher));
      said = true;
    }
    Pump();
    std::this_thread::sleep_for(kPollInterval);
  }
}

fs::path PassContext::Native(const std::string& path) const {
  return Env.Machine->ToNative(path);
}

std::string PassContext::Caption() const {
  return "Tandor " + std::to_string(Env.Version.Major) + "." + std::to_string(Env.Version.Minor) +
         "." + std::to_string(Env.Version.Revision);
}

std::string PassContext::ProductFolder() const {
  return Env.Settings->SystemDrive + "\\" + Env.ArgumentText;
}

std::string PassContext::LocalManifest() const {
  return ProductFolder() + "\\" + ManifestFileName(Env.Version);
}

fs::path PassContext::LocalCopy(const std::string& name) const {
  const std::string own = ManifestFileName(Env.Version);
  if (name == own) return Native(LocalManifest());
  // A fallback goes under one name of the pass's own, whatever the manifest calls it: it can
  // neither pile up nor take the place of the record or of a product's file.
  return Native(ProductFolder() + "\\" + own.substr(0, own.size() - 4) + ".fallback.ini");
}

std::string PassContext::RemoteManifest(const std::string& manifestName) const {
  std::string remote = Env.Settings->Root;
  if (remote.empty() || remote.back() != '/') remote += '/';
  return remote + Env.ArgumentText + "/" + manifestName;
}

fs::path PassContext::BackupFolder() const {
  return Native(ProductFolder() + "\\Tandor.Backup");
}

fs::path PassContext::RecordFile() const {
  return Native(ProductFolder() + "\\Version.ini");
}

bool PassContext::IsUpdaterItself(const FileEntry& entry) const {
  const std::string own =
      RemoveAll(Env.BaseName + std::string(kExecutableSuffix), Env.ArgumentText);
  return EqualsIgnoreCase(own, entry.Realname);
}

TransferProtocol PassContext::Protocol() const {
  return TransferProtocolFor(IsHttp(Env.Settings->Method), Env.Settings->Passive);
}

}  // namespace tandor
