#pragma once
// What the steps of one update pass share: the environment the program gave it, its log, its
// connection to the server, and the status it has reached. Each step gets the context and
// hands its result back as a value; the context only reports.

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/Process.h"
#include "settings/ClientSettings.h"
#include "sync/PassEnd.h"
#include "sync/PassEnvironment.h"
#include "sync/PassLog.h"
#include "transfer/DownloadRequest.h"

namespace tandor {

class Downloader;
struct FileEntry;
struct FtpOptions;
struct TransferResult;

struct PassContext {
  explicit PassContext(PassEnvironment environment);
  ~PassContext();
  PassContext(const PassContext&) = delete;
  PassContext& operator=(const PassContext&) = delete;

  PassEnvironment Env;
  PassLog ErrLog;
  std::unique_ptr<Downloader> Transfer;
  // The options of Transfer, for the connections that download ahead.
  std::unique_ptr<FtpOptions> TransferOptions;
  // The server that served the manifest: every later transfer of the pass goes to it.
  std::optional<ServerAddress> Server;
  // How long the last manifest took to arrive: what a file of that server takes, for a start.
  std::chrono::steady_clock::duration ManifestTime{};
  // The pass's status so far: what reaching the server and the manifest gave, then the fold of
  // the entries' outcomes and the final program's start.
  int Status = pass_status::Completed;
  // The launcher did not end in time: the updater's own file is not replaced in this pass.
  bool LauncherHeld = false;

  // Lets the window deliver its input; an EXIT pressed before or meanwhile stops the pass.
  void Pump();
  // Stops the pass when EXIT was pressed: whatever the pass had reached, it did not complete.
  void StopIfExitRequested() const;
  void Fail(int status) { Status = Worse(Status, status); }

  // A line in the window and the log.
  void Report(const std::string& line);
  // Reports a failure of the entry being installed, in the list and the log; the step that
  // failed says so in its outcome.
  void FailEntry(const std::string& description, const std::string& filename);
  // What the window and the log say of a failed transfer: a proxy's refusal names the proxy.
  static std::string FailureText(const TransferResult& result);
  // Starts a program; reports a start that fails (as a failure of the entry being installed)
  // and gives nothing back.
  std::optional<ProcessId> Start(const std::string& commandLine, WindowStyle style,
                                 const std::string& filename);
  // Makes a downloaded program runnable and starts it with `options`.
  std::optional<ProcessId> StartInstalled(const FileEntry& entry, const std::string& options,
                                          WindowStyle style);
  // Waits for the launcher that started the pass to end, within its limit.
  void WaitForLauncher();

  std::filesystem::path Native(const std::string& path) const;
  std::string Caption() const;
  std::string ProductFolder() const;
  std::string LocalManifest() const;
  std::string RemoteManifest(const std::string& manifestName) const;
  // Where the manifest of that name on the server is kept while the pass reads it (native).
  std::filesystem::path LocalCopy(const std::string& name) const;
  // Where a release's replaced files are kept (native).
  std::filesystem::path BackupFolder() const;
  std::filesystem::path RecordFile() const;
  bool IsUpdaterItself(const FileEntry& entry) const;
  // How the pass's connections talk to the server, as the settings say.
  TransferProtocol Protocol() const;
};

// Downloaded files arrive without execute permission; a program the manifest starts is made
// runnable first, as any file can be started where the manifests come from.
void MakeRunnable(const std::filesystem::path& file);

}  // namespace tandor
