#include "sync/UpdatePass.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "manifest/InstallationRecord.h"
#include "manifest/ManifestReader.h"
#include "platform/Error.h"
#include "platform/Executable.h"
#include "platform/Prefix.h"
#include "settings/IniStore.h"
#include "transfer/FTP.h"
#include "unzip/Unzip32.h"
#include "util/Registration.h"
#include "util/TextCase.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Polling a launcher or a started program: often enough to feel immediate, rarely enough to
// leave the processor alone.
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr int kStillActive = 259;

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Every occurrence of `what` removed from `text`, compared byte for byte.
std::string RemoveAll(std::string text, const std::string& what) {
  if (what.empty()) return text;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at))
    text.erase(at, what.size());
  return text;
}

// Downloaded files arrive without execute permission; a program the manifest starts is made
// runnable first, as any file can be started where the manifests come from.
void MakeRunnable(const fs::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  mode_t mode = info.st_mode & 07777;
  mode |= (mode & 0444) >> 2;  // execute wherever read is allowed
  if (mode != (info.st_mode & 07777)) ::chmod(file.c_str(), mode);
}

WindowStyle StyleFromExecute(const std::string& execute) {
  int value = 1;
  try {
    value = std::stoi(execute);
  } catch (const std::exception&) {
  }
  switch (value) {
    case 0:
      return WindowStyle::Hidden;
    case 2:
      return WindowStyle::MinimizedFocus;
    case 3:
      return WindowStyle::MaximizedFocus;
    case 4:
      return WindowStyle::NormalNoFocus;
    case 6:
      return WindowStyle::MinimizedNoFocus;
    default:
      return WindowStyle::NormalFocus;
  }
}

}  // namespace

UpdatePass::UpdatePass(PassEnvironment environment)
    : mEnv(std::move(environment)),
      mErrLog(mEnv.Machine->ToNative(mEnv.AppFolder + "\\Err.log"), mEnv.Machine->AnsiCodePage()) {
  mUnzip = std::make_unique<Unzip32>(
      [this](const std::string& prompt) { return mEnv.Window->AskPassword(prompt); },
      mEnv.Machine->AnsiCodePage());
}

UpdatePass::~UpdatePass() = default;

fs::path UpdatePass::Native(const std::string& path) const {
  return mEnv.Machine->ToNative(path);
}

std::string UpdatePass::Caption() const {
  return "Tandor " + std::to_string(mEnv.Version.Major) + "." + std::to_string(mEnv.Version.Minor) +
         "." + std::to_string(mEnv.Version.Revision);
}

std::string UpdatePass::ProductFolder() const {
  return mEnv.Settings->SystemDrive + "\\" + mEnv.ArgumentText;
}

std::string UpdatePass::RemoteManifest(const std::string& manifestName) const {
  std::string remote = mEnv.Settings->Root;
  if (remote.empty() || remote.back() != '/') remote += '/';
  return remote + mEnv.ArgumentText + "/" + manifestName;
}

void UpdatePass::EndNow(int status) {
  if (mRecord) mRecord->Flush();
  mEnv.Ini->Flush();
  mErrLog.Close();
  mEnv.EndProgram(status);
  std::abort();  // EndProgram never returns
}

void UpdatePass::Report(const std::string& line) {
  mEnv.Window->AddLine(line);
  mErrLog.WriteLine(line);
}

void UpdatePass::WaitForLauncher() {
  VersionInfoQuery versions(*mEnv.Machine, mEnv.Machine->AnsiCodePage());
  const FileVersionFields own = versions.QueryFileVersionInfo(
      mEnv.AppFolder + "\\" + mEnv.BaseName + std::string(kExecutableSuffix));
  const std::string name = own.InternalName + std::string(kExecutableSuffix);
  while (mEnv.ProcessRunning(name)) {
    mEnv.Window->ProcessPendingMessages();
    std::this_thread::sleep_for(kPollInterval);
  }
}

bool UpdatePass::Connect() {
  const ClientSettings& s = *mEnv.Settings;
  FtpEvents events;
  events.ProcessPendingMessages = [this] { mEnv.Window->ProcessPendingMessages(); };
  events.FileTransferProgress = [this](std::int64_t current, std::int64_t total) {
    mEnv.Window->ShowProgress(current, total);
  };
  FtpOptions options;
  options.ServerCodePage = mEnv.Machine->AnsiCodePage();
  mFTP = std::make_unique<FTP>(std::move(events), options);
  if (EqualsIgnoreCase(s.Method, "HTTP")) mFTP->Service(FTP::ServiceHttp);
  if (s.Passive) mFTP->SetModePassive();
  mEnv.Window->SetCaption(Caption());
  mEnv.Window->AddLine("Upgrade " + mEnv.ArgumentText + " by " + s.Method);
  bool connected = false;
  try {
    connected = mFTP->OpenConnection(s.Address, s.User, s.Password, s.Port);
  } catch (const RuntimeError&) {
    connected = false;  // a port that is no number cannot connect either
  }
  if (connected) return true;
  mEnv.Window->Show();
  mEnv.Window->ProcessPendingMessages();
  Report(LowerAscii(s.Method) + "://" + s.Address + "에 연결 중 에러가 발생하였습니다.");
  mEnv.Window->SetBusyPointer(false);
  mStatus = pass_status::NoServer;
  return false;
}

std::string UpdatePass::TransferError(const std::string& before, const std::string& remote) const {
  const std::string& now = mFTP->GetLastErrorMessage();
  // A missing or empty remote file fails without a text of its own; an old text would name the
  // wrong failure.
  if (now.empty() || now == before) return "The server has no file " + remote + " (or it is empty)";
  return now;
}

bool UpdatePass::DownloadManifest(const fs::path& local, const std::string& remote) {
  const std::string& method = mEnv.Settings->Method;
  const std::string before = mFTP->GetLastErrorMessage();
  bool ok = true;
  if (EqualsIgnoreCase(method, "FTP"))
    ok = mFTP->FTPDownloadFile(local, remote);
  else if (EqualsIgnoreCase(method, "HTTP"))
    ok = mFTP->HTTPDownloadFile(local, remote);
  if (ok) return true;
  mStatus = pass_status::NoServer;
  mEnv.Window->Show();
  mEnv.Window->ProcessPendingMessages();
  mEnv.Window->ShowMessage("", TransferError(before, remote), MessageIcon::None,
                           MessageButtons::Ok);
  return false;
}

void UpdatePass::Sync() {
  mErrLog.Create();
  mEnv.Window->SetBusyPointer(true);
  WaitForLauncher();
  if (!Connect()) return;

  const std::string manifestName = ManifestFileName(mEnv.Version);
  const std::string productFolder = ProductFolder();
  const std::string localManifest = productFolder + "\\" + manifestName;
  std::error_code ec;
  fs::create_directory(Native(productFolder), ec);
  if (fs::exists(Native(localManifest), ec)) fs::remove(Native(localManifest), ec);
  DownloadManifest(Native(localManifest), RemoteManifest(manifestName));
  mEnv.Ini->Forget(Native(localManifest));

  ManifestReader reader(*mEnv.Ini, Native(localManifest), *mEnv.Settings, mEnv.AppFolder);
  const FilesSettings files = reader.ReadFilesSettings();
  mRecord =
      std::make_unique<InstallationRecord>(*mEnv.Ini, Native(productFolder + "\\Version.ini"));
  InstallationRecord& record = *mRecord;
  EntryRules rules(*mEnv.Machine, mEnv.Machine->AnsiCodePage(), record,
                   mEnv.Settings->DataAccessVersion, mEnv.Allow);
  EntryTable table = BuildEntryTable(reader, rules);

  if (table.DownloadCount > 0) {
    mEnv.Window->Centre();
    mEnv.Window->AddLineUnselected(std::to_string(table.DownloadCount) +
                                   "개의 파일을 다운로드 합니다.");
    mEnv.Window->Show();
    mEnv.Window->ProcessPendingMessages();
  }

  for (FileEntry& entry : table.Entries) {
    if (entry.Download) InstallEntry(entry);
    record.Write(entry);
    // Only a new updater that really arrived takes over: handing over to the old one would
    // start the same failing pass again, for ever.
    if (entry.Download && !mLastTransferFailed && IsUpdaterItself(entry)) {
      // The new launcher must not see this working copy still running: it takes this process's
      // place instead of starting beside it.
      record.Flush();
      mEnv.Ini->Flush();
      mErrLog.Close();
      MakeRunnable(Native(entry.LocalPath + "\\" + entry.Realname));
      try {
        mEnv.ReplaceProgram(entry.LocalPath + "\\" + entry.Realname + " " + mEnv.ArgumentText);
        return;
      } catch (const RuntimeError& error) {
        // The new updater never arrived (or cannot run): nobody takes over, so this pass goes
        // on to its end and says why instead of dying on the exception.
        mErrLog.Reopen();
        Report("Error:" + error.Description() + " (" + entry.Filename + ")");
        mStatus = pass_status::EntryFailed;
      }
    }
  }

  mFTP->CloseConnection();
  StartFinalProgram(table, files.Execute, files.ExecuteOption, files.ExecuteText,
                    files.ExecuteIsNumber);
  record.Flush();
  mErrLog.Close();
  mEnv.Window->Hide();
  EndNow(mStatus);
}

void UpdatePass::DeleteOldFiles(const FileEntry& entry) {
  if (MatchesWildcard(entry.Filename, "Tandor*")) return;
  for (const std::string* name : {&entry.Filename, &entry.Realname}) {
    const fs::path file = Native(entry.LocalPath + "\\" + *name);
    struct stat info {};
    // A read-only file stays, as a plain delete leaves it.
    if (::lstat(file.c_str(), &info) != 0 || S_ISDIR(info.st_mode) || (info.st_mode & 0222) == 0)
      continue;
    std::error_code ec;
    fs::remove(file, ec);
  }
}

std::optional<ProcessId> UpdatePass::Start(const std::string& commandLine, WindowStyle style,
                                           const std::string& filename) {
  try {
    return StartProgram(*mEnv.Machine, commandLine, style);
  } catch (const RuntimeError& error) {
    Report("Error:" + error.Description() + " (" + filename + ")");
    mStatus = pass_status::EntryFailed;
    return std::nullopt;
  }
}

void UpdatePass::InstallEntry(FileEntry& entry) {
  mEnv.Ini->FlushDue();
  DeleteOldFiles(entry);
  DownloadEntry(entry);
  if (!entry.Execute.empty()) StartEntryProgram(entry);
  if (EqualsIgnoreCase(entry.Register, "$(DLLSelfRegister)")) Register(entry);
}

void UpdatePass::StartEntryProgram(FileEntry& entry) {
  mEnv.Window->AddLine(entry.Filename + "을 실행");
  MakeRunnable(Native(entry.LocalPath + "\\" + entry.Realname));
  std::optional<ProcessId> pid =
      Start(entry.LocalPath + "\\" + entry.Realname + " " + entry.ExecuteOption,
            StyleFromExecute(entry.Execute), entry.Filename);
  if (!pid || entry.Wait != "1") return;
  mEnv.Window->AddLine(entry.Filename + "이 종료될때 까지 기다리는 중");
  for (;;) {
    std::optional<int> code = PollExitCode(*pid);
    if (code && *code != kStillActive) break;
    mEnv.Ini->FlushDue();
    mEnv.Window->ProcessPendingMessages();
    std::this_thread::sleep_for(kPollInterval);
  }
  mEnv.Window->AddLine(entry.Filename + "종료");
  if (MatchesWildcard(entry.Realname, "MDAC*")) ShowRebootPrompt(entry, *mRecord);
}

void UpdatePass::ShowRebootPrompt(const FileEntry& entry, InstallationRecord& record) {
  record.Write(entry);
  record.Flush();
  mErrLog.Close();
  MessageAnswer answer = mEnv.Window->ShowMessage(
      "",
      "시스템의 중요한 파일이 업그레이드 되었습니다.\r\n\r\n" + mEnv.ArgumentText +
          "의 정상적인 사용을 위해 컴퓨터를 리부팅해야 합니다.",
      MessageIcon::Exclamation, MessageButtons::OkCancel);
  if (answer == MessageAnswer::Ok) EndNow(pass_status::Completed);
  // The pass goes on: later lines belong in the same log.
  mErrLog.Reopen();
}

void UpdatePass::Register(const FileEntry& entry) {
  try {
    RunRegsvr32(*mEnv.Settings, *mEnv.Machine, entry.LocalPath + "\\" + entry.Realname, -1);
  } catch (const RuntimeError& error) {
    Report("Error:" + error.Description() + " (" + entry.Filename + ")");
    mStatus = pass_status::EntryFailed;
  }
}

bool UpdatePass::IsUpdaterItself(const FileEntry& entry) const {
  const std::string own =
      RemoveAll(mEnv.BaseName + std::string(kExecutableSuffix), mEnv.ArgumentText);
  return EqualsIgnoreCase(own, entry.Realname);
}

void UpdatePass::StartFinalProgram(const EntryTable& table, int index, const std::string& options,
                                   const std::string& executeText, bool executeIsNumber) {
  if (!executeIsNumber || index < 0 || index > static_cast<int>(table.Entries.size())) {
    Report("Error:[Files] Execute=" + executeText +
           " 에 해당하는 항목이 없어 프로그램을 시작하지 않습니다.");
    return;
  }
  if (index == 0) return;
  const FileEntry& entry = table.Entries[static_cast<std::size_t>(index - 1)];
  if (entry.Failed) return;
  MakeRunnable(Native(entry.LocalPath + "\\" + entry.Realname));
  Start(entry.LocalPath + "\\" + entry.Realname + " " + options, WindowStyle::NormalFocus,
        entry.Filename);
}

}  // namespace tandor
