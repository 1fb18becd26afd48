#include "sync/UpdatePass.h"

#include "ui/Messages.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>
#include <vector>

#include "manifest/InstallationRecord.h"
#include "manifest/ManifestReader.h"
#include "manifest/RenumberEntries.h"
#include "platform/Error.h"
#include "platform/Executable.h"
#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "platform/Unattended.h"
#include "settings/IniStore.h"
#include "sync/ReleaseBackup.h"
#include "text/TextCase.h"
#include "transfer/DownloadPool.h"
#include "transfer/Downloader.h"
#include "transfer/RateLimit.h"
#include "unzip/Unzip32.h"
#include "util/Integrity.h"
#include "util/Registration.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Polling a launcher or a started program: often enough to feel immediate, rarely enough to
// leave the processor alone.
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr int kStillActive = 259;
// A wait for the launcher longer than this is shown: something holds it.
constexpr auto kLauncherNotice = std::chrono::seconds(1);

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

// Where the machine keeps what it trusts: the manifest key and, per product, the highest
// manifest serial accepted so far.
constexpr const char* kTrustKey = "SOFTWARE\\Tandor";
constexpr const char* kSerialKey = "SOFTWARE\\Tandor\\Serial";

// The public key manifests must be signed with: the one built in, else the machine's. Empty:
// manifests are not checked. Never taken from a file beside the program.
std::string ManifestKey(const Prefix& machine) {
  const std::string builtIn = TANDOR_MANIFEST_KEY;
  if (!builtIn.empty()) return builtIn;
  return machine.ReadRegistryValue(kTrustKey, "ManifestKey").value_or("");
}

// What a manifest and its signature may weigh: far more than any real one, and little enough
// that a server cannot fill the disk or the memory with them.
constexpr std::int64_t kManifestLimit = 16 << 20;
constexpr std::int64_t kSignatureLimit = 4 << 10;

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
      mEnv.Machine->AnsiCodePage(), mEnv.FreeSpace);
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

std::string UpdatePass::LocalManifest() const {
  return ProductFolder() + "\\" + ManifestFileName(mEnv.Version);
}

fs::path UpdatePass::LocalCopy(const std::string& name) const {
  const std::string own = ManifestFileName(mEnv.Version);
  if (name == own) return Native(LocalManifest());
  // A fallback goes under one name of the pass's own, whatever the manifest calls it: it can
  // neither pile up nor take the place of the record or of a product's file.
  return Native(ProductFolder() + "\\" + own.substr(0, own.size() - 4) + ".fallback.ini");
}

std::string UpdatePass::RemoteManifest(const std::string& manifestName) const {
  std::string remote = mEnv.Settings->Root;
  if (remote.empty() || remote.back() != '/') remote += '/';
  return remote + mEnv.ArgumentText + "/" + manifestName;
}

void UpdatePass::StopIfExitRequested() const {
  if (mEnv.Window->ExitRequested())
    throw Stop{mStatus == pass_status::Completed ? pass_status::EntryFailed : mStatus};
}

void UpdatePass::Pump() {
  StopIfExitRequested();
  mEnv.Window->ProcessPendingMessages();
  StopIfExitRequested();
}

PassOutcome UpdatePass::Finish(int status) {
  mAhead.reset();  // its workers stop, and what they fetched for nothing goes
  EndRelease(status);
  RemoveOwnTemporaries();
  if (mRecord) mRecord->Flush();
  mEnv.Ini->Flush();
  mErrLog.Close();
  PassOutcome outcome;
  outcome.Status = status;
  return outcome;
}

void UpdatePass::Report(const std::string& line) {
  mEnv.Window->AddLine(line);
  mErrLog.WriteLine(line);
}

std::string UpdatePass::FailureText(const TransferResult& result) {
  return result.ProxyRefused ? msg::ProxyRefused(result.Text) : result.Text;
}

void UpdatePass::FailEntry(const std::string& description, const std::string& filename) {
  Report("Error:" + description + " (" + filename + ")");
}

namespace {

// Whether `path` is `folder` or lies below it, both taken as they are written.
bool LiesIn(const fs::path& path, const fs::path& folder) {
  const fs::path relative = path.lexically_normal().lexically_relative(folder.lexically_normal());
  return !relative.empty() && *relative.begin() != "..";
}

// Whether a part of `path` below `folder` (which holds it, as written) is a link. A part that
// does not exist ends the look: nothing below it exists either.
bool HasLinkBelow(const fs::path& folder, const fs::path& path) {
  fs::path at = folder.lexically_normal();
  for (const fs::path& part : path.lexically_normal().lexically_relative(at)) {
    if (part.empty() || part == ".") continue;
    at /= part;
    struct stat info {};
    if (::lstat(at.c_str(), &info) != 0) return false;
    if (S_ISLNK(info.st_mode)) return true;
  }
  return false;
}

}  // namespace

bool UpdatePass::IsWritablePlace(const fs::path& native) const {
  if (!native.is_absolute()) return false;
  fs::path place;  // the drive or the application folder that holds the path as it is written
  if (mEnv.Machine->HoldsPath(native)) {
    const fs::path root = mEnv.Machine->Root().lexically_normal();
    place = root / *native.lexically_normal().lexically_relative(root).begin();
  } else if (const fs::path app = Native(mEnv.AppFolder); LiesIn(native, app)) {
    place = app;
  } else {
    return false;
  }
  if (InBackup(native)) return false;
  // A link on the way (one an archive made, or anybody's) must not carry the write elsewhere.
  // Mostly there is none below the place: one look at each part that exists tells so.
  if (!HasLinkBelow(place, native)) return true;
  // Else the path with every existing link resolved has to stay in the same place.
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(native, ec);
  if (ec) return false;
  const fs::path resolvedPlace = fs::weakly_canonical(place, ec);
  return !ec && LiesIn(resolved, resolvedPlace) && !InBackup(resolved);
}

fs::path UpdatePass::BackupFolder() const {
  return Native(ProductFolder() + "\\Tandor.Backup");
}

bool UpdatePass::InBackup(const fs::path& native) const {
  // What lets a later pass undo an install is no place for what a manifest or archive brings.
  // Asked for every target: the folder, as written and resolved, is worked out once.
  if (!mBackupPlaces) {
    const fs::path backup = BackupFolder().lexically_normal();
    std::error_code ec;
    const fs::path resolved = fs::weakly_canonical(backup, ec);
    mBackupPlaces = {backup.native(), ec ? backup.native() : resolved.native()};
  }
  // Mostly the folder's name is not in the path at all.
  const auto named = [&native](const std::string& folder) {
    return native.native().find(folder.substr(folder.rfind('/') + 1)) != std::string::npos;
  };
  if (!named(mBackupPlaces->first) && !named(mBackupPlaces->second)) return false;
  const std::string path = native.lexically_normal().native();
  const auto under = [&path](const std::string& folder) {
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
  };
  return under(mBackupPlaces->first) || under(mBackupPlaces->second);
}

std::string UpdatePass::TargetOutside(const FileEntry& entry) const {
  std::vector<std::string> targets = {entry.LocalPath + "\\" + entry.Filename};
  // Most entries keep their name: one look at that path is enough.
  if (entry.Realname != entry.Filename) targets.push_back(entry.TargetPath());
  if (entry.Extract && !entry.ExtractTo.empty()) targets.push_back(entry.ExtractTo);
  for (const std::string& target : targets)
    if (!IsWritablePlace(Native(target))) return target;
  return {};
}

bool UpdatePass::TargetsAllowed(const FileEntry& entry) {
  const std::string outside = TargetOutside(entry);
  if (outside.empty()) return true;
  FailEntry(msg::OutsideTheMachine(outside), entry.Filename);
  return false;
}

void UpdatePass::RemoveStaleTemporaries(const EntryTable& table) const {
  std::set<fs::path> folders = {Native(ProductFolder()), Native(mEnv.AppFolder)};
  for (const FileEntry& entry : table.Entries) {
    folders.insert(Native(entry.LocalPath));
    if (entry.Extract && !entry.ExtractTo.empty()) folders.insert(Native(entry.ExtractTo));
  }
  for (const fs::path& folder : folders)
    if (IsWritablePlace(folder)) tandor::RemoveStaleTemporaries(folder);
  // The registry file is rewritten beside itself, in the prefix's root.
  tandor::RemoveStaleTemporaries(mEnv.Machine->Root());
}

void UpdatePass::WaitForLauncher() {
  VersionInfoQuery versions(*mEnv.Machine, mEnv.Machine->AnsiCodePage());
  const FileVersionFields own = versions.QueryFileVersionInfo(
      mEnv.AppFolder + "\\" + mEnv.BaseName + std::string(kExecutableSuffix));
  const std::string launcher =
      mEnv.AppFolder + "\\" + own.InternalName + std::string(kExecutableSuffix);
  const fs::path native = Native(launcher);
  const auto start = std::chrono::steady_clock::now();
  bool said = false;
  while (mEnv.LauncherRunning(native)) {
    const auto waited = std::chrono::steady_clock::now() - start;
    if (waited >= mEnv.LauncherWaitLimit) {
      // A launcher ends within milliseconds of starting the pass; one that does not is stuck,
      // and waiting longer would hold this product's update for nothing.
      Report(msg::LauncherStillRuns(
          launcher,
          std::chrono::duration_cast<std::chrono::seconds>(mEnv.LauncherWaitLimit).count()));
      mLauncherHeld = true;
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

bool UpdatePass::Connect() {
  const ClientSettings& s = *mEnv.Settings;
  FtpEvents events;
  // A stop thrown here leaves the transfer as any event handler's exception does: the transfer
  // ends, its temporary file goes, and the stop reaches Sync.
  events.ProcessPendingMessages = [this] { Pump(); };
  events.WaitingForData = [this] {
    mEnv.Window->WaitingForData();
    StopIfExitRequested();
  };
  events.FileTransferProgress = [this](std::int64_t current, std::int64_t total) {
    mEnv.Window->ShowProgress(current, total);
    StopIfExitRequested();
  };
  FtpOptions options;
  options.ServerCodePage = mEnv.Machine->AnsiCodePage();
  options.IdleTimeout = mEnv.TransferIdleLimit;
  options.FreeSpace = mEnv.FreeSpace;
  options.Tls = s.Tls;
  if (!s.CaFile.empty()) options.CaFile = Native(s.CaFile).string();
  options.Proxy = s.Proxy;
  // One cap for every download of the pass, whatever connection it takes.
  if (s.MaxBytesPerSecond > 0)
    options.DownloadRate = std::make_shared<RateLimit>(s.MaxBytesPerSecond);
  if (s.MaxKBpsIgnored) mErrLog.WriteLine(msg::MaxKBpsIgnored(s.MaxKBpsText));
  const bool tls = options.Tls;
  mTransferOptions = std::make_unique<FtpOptions>(options);
  mTransfer = std::make_unique<Downloader>(std::move(events), std::move(options),
                                           TransferProtocolFor(IsHttp(s.Method), s.Passive));
  mEnv.Window->SetCaption(Caption());
  mEnv.Window->AddLine(msg::Connecting(mEnv.ArgumentText, s.MethodText));
  const bool known = s.Method != TransferMethod::Unknown;
  TransferResult opened;
  if (known) {
    opened = ReachServer();
    if (opened.Done()) return true;
  }
  mEnv.Window->Show();
  Pump();
  if (known) {
    Report(msg::ConnectionFailed(LowerAscii(s.MethodText), s.Address));
    // A secure connection says why it failed: a certificate refused is not a server away; nor
    // is a proxy that refused. Without a window nobody can look further either: the transfer
    // client's reason follows.
    if ((tls || opened.ProxyRefused) && !opened.Text.empty()) {
      Report("Error:" + FailureText(opened));
    } else if (IsUnattended()) {
      std::printf("%s\n", opened.Text.c_str());
      std::fflush(stdout);
    }
  } else {
    Report("Error:" + msg::UnknownMethod(s.MethodText));
  }
  mEnv.Window->SetBusyPointer(false);
  mStatus = pass_status::NoServer;
  return false;
}

TransferResult UpdatePass::ReachServer() {
  const ClientSettings& s = *mEnv.Settings;
  const std::vector<ServerAddress> servers = s.Servers();
  // One server is reported as it always was; several are each named.
  const bool several = servers.size() > 1;
  TransferResult opened{TransferResult::State::Failed, 0, ""};
  std::optional<ManifestFailure> failure;
  for (const ServerAddress& server : servers) {
    // A port that is no number cannot connect either.
    opened = server.Port ? mTransfer->Open(server.Host, s.User, s.Password, *server.Port)
                         : TransferResult{TransferResult::State::Failed, 0, ""};
    std::string reason;
    if (!opened.Done()) {
      reason = server.Port ? opened.Text : msg::NotAPort(server.PortText);
    } else if ((failure = TakeManifest(ManifestFileName(mEnv.Version)))) {
      reason = failure->Text;
    } else {
      mServer = server;
      if (several) Report(msg::ServerInUse(server.Text));
      return opened;
    }
    if (several) Report("Error:" + msg::ServerUnusable(server.Text, reason));
  }
  // A server that answered without a manifest says more than one that did not answer.
  if (!failure) return opened;
  ReportManifestFailure(*failure);
  return {};
}

std::optional<UpdatePass::ManifestFailure> UpdatePass::TakeManifest(const std::string& name) {
  const fs::path local = LocalCopy(name);
  const std::string remote = RemoteManifest(name);
  std::error_code ec;
  fs::create_directory(Native(ProductFolder()), ec);
  // Also what a server tried before left there (an error page).
  if (fs::exists(local, ec)) fs::remove(local, ec);
  mEnv.Ini->Forget(local);
  TransferResult result;
  const auto start = std::chrono::steady_clock::now();
  try {
    result = mTransfer->Download({.Target = local, .Remote = remote, .Limit = kManifestLimit});
    mManifestTime = std::chrono::steady_clock::now() - start;
  } catch (const RuntimeError& error) {
    // No room on the disk, a folder that cannot be written: no server would do better.
    return ManifestFailure{true, msg::ManifestNotStored(remote, error.Description())};
  }
  if (result.Status == TransferResult::State::OverLimit)
    return ManifestFailure{false, msg::ManifestTooLarge(remote, kManifestLimit >> 20)};
  if (!result.Done()) return ManifestFailure{false, FailureText(result)};
  if (mEnv.Ini->HasSection("Files", local) || mEnv.Ini->HasSection("File1", local))
    return std::nullopt;
  return ManifestFailure{true, msg::NotAManifest(remote)};
}

void UpdatePass::ReportManifestFailure(const ManifestFailure& failure) {
  mStatus = pass_status::NoServer;
  mEnv.Window->Show();
  Pump();
  if (failure.NotAManifest) {
    // A manifest that is no manifest ends the pass, rather than installing nothing.
    Report("Error:" + failure.Text);
    mEnv.Window->ShowMessage(msg::kApplicationTitle, failure.Text, MessageIcon::Critical,
                             MessageButtons::Ok);
  } else {
    mErrLog.WriteLine("Error:" + failure.Text);
    mEnv.Window->ShowMessage("", failure.Text, MessageIcon::None, MessageButtons::Ok);
  }
}

void UpdatePass::RefuseManifest(const std::string& text) {
  mStatus = pass_status::Untrusted;
  mEnv.Window->Show();
  Pump();
  Report("Error:" + text);
  mEnv.Window->ShowMessage(msg::kApplicationTitle, text, MessageIcon::Critical, MessageButtons::Ok);
}

bool UpdatePass::ManifestTrusted(const fs::path& manifest, const std::string& remote,
                                 const std::string& name) {
  const std::string key = ManifestKey(*mEnv.Machine);
  if (key.empty()) return true;
  if (!FromBase64(key, crypto_sign_PUBLICKEYBYTES)) {
    RefuseManifest(msg::BadManifestKey(key));
    return false;
  }
  fs::path signatureFile = manifest;
  signatureFile += ".sig";
  std::error_code ec;
  fs::remove(signatureFile, ec);
  TransferResult fetched;
  try {
    fetched = mTransfer->Download(
        {.Target = signatureFile, .Remote = remote + ".sig", .Limit = kSignatureLimit});
  } catch (const RuntimeError& error) {
    ReportManifestFailure({true, msg::ManifestNotStored(remote + ".sig", error.Description())});
    return false;
  }
  const std::optional<std::string> signature = ReadWholeFile(signatureFile);
  fs::remove(signatureFile, ec);
  if (fetched.Status == TransferResult::State::OverLimit) {
    RefuseManifest(msg::SignatureTooLarge(remote, kSignatureLimit >> 10));
    return false;
  }
  if (!fetched.Done() || !signature) {
    RefuseManifest(msg::ManifestUnsigned(remote));
    return false;
  }
  const std::optional<std::string> bytes = ReadWholeFile(manifest);
  if (!bytes || !VerifyDetached(*bytes, *signature, key)) {
    RefuseManifest(msg::ManifestSignatureWrong(remote));
    return false;
  }
  // A signature says who published, not for which product: another product's manifest served
  // at this one's path would install the wrong software and carry its serial over to this
  // product, so a signed manifest must name the product it is for.
  const std::string named = mEnv.Ini->Read("Files", "Product", manifest);
  if (!EqualsIgnoreCase(named, mEnv.ArgumentText)) {
    RefuseManifest(msg::ManifestForAnotherProduct(remote, named, mEnv.ArgumentText));
    return false;
  }
  // A validly signed but older manifest is a replay: it would bring back what was fixed since.
  // A rollout's fallback is an older release by design: its serials count apart, per name, so
  // that a machine outside the rollout takes it while neither can be replayed.
  const std::string serialText = mEnv.Ini->Read("Files", "Serial", manifest);
  const std::optional<long long> serial = ParseSerial(serialText);
  const bool own = name == ManifestFileName(mEnv.Version);
  const std::string serialKey =
      own ? std::string(kSerialKey) : std::string(kSerialKey) + "\\" + mEnv.ArgumentText;
  const std::string serialName = own ? mEnv.ArgumentText : name;
  const long long accepted =
      ParseSerial(mEnv.Machine->ReadRegistryValue(serialKey, serialName).value_or("")).value_or(0);
  if (!serial || *serial < accepted) {
    RefuseManifest(msg::ManifestRolledBack(remote, serialText, accepted));
    return false;
  }
  if (*serial > accepted)
    mEnv.Machine->WriteRegistryValue(serialKey, serialName, std::to_string(*serial));
  return true;
}

PassOutcome UpdatePass::Sync() {
  try {
    return Run();
  } catch (const Stop& stop) {
    return Finish(stop.Status);
  } catch (const RuntimeError& error) {
    PassOutcome outcome = Finish(pass_status::EntryFailed);
    outcome.Unhandled = error;
    return outcome;
  }
}

PassOutcome UpdatePass::Run() {
  mErrLog.Create();
  mEnv.Window->SetBusyPointer(true);
  WaitForLauncher();
  FinishLastRelease();
  if (!Connect()) {
    // The log and the consumed settings are on disk while the window waits for EXIT.
    PassOutcome waiting = Finish(mStatus);
    waiting.WaitForExit = true;
    return waiting;
  }

  const std::string productFolder = ProductFolder();
  const std::string localManifest = LocalManifest();
  const std::string remoteManifest = RemoteManifest(ManifestFileName(mEnv.Version));
  std::optional<TakenManifest> taken;
  if (mServer &&
      ManifestTrusted(Native(localManifest), remoteManifest, ManifestFileName(mEnv.Version)))
    taken = ChooseManifest();
  if (!taken) {
    std::error_code ec;
    if (mStatus == pass_status::Untrusted) fs::remove(Native(localManifest), ec);
    mTransfer->Close();
    mErrLog.Close();
    mEnv.Window->Hide();
    return Finish(mStatus);
  }

  ManifestReader reader(*mEnv.Ini, taken->Local, *mEnv.Settings, mEnv.AppFolder);
  const FilesSettings& files = taken->Files;
  TakeUpHandedOverRelease(*taken);
  mRecord =
      std::make_unique<InstallationRecord>(*mEnv.Ini, Native(productFolder + "\\Version.ini"));
  InstallationRecord& record = *mRecord;
  EntryRules rules(*mEnv.Machine, mEnv.Machine->AnsiCodePage(), record,
                   mEnv.Settings->DataAccessVersion, mEnv.Allow);
  EntryTable table = BuildEntryTable(reader, rules);
  if (taken->Hold) {
    mTransfer->Close();
    StartHeldProgram(table, files);
    mErrLog.Close();
    mEnv.Window->Hide();
    return Finish(mStatus);
  }
  RemoveStaleTemporaries(table);
  BeginRelease(*taken, table);
  StartDownloadsAhead(table);

  if (table.DownloadCount > 0) {
    mEnv.Window->Centre();
    mEnv.Window->AddLineUnselected(msg::DownloadCount(table.DownloadCount));
    mEnv.Window->Show();
    Pump();
  }

  for (std::size_t index = 0; index < table.Entries.size(); ++index) {
    FileEntry& entry = table.Entries[index];
    RunAhead(table, index);
    // With downloads running ahead, the next one is theirs: nothing is sent ahead here.
    const EntryOutcome outcome =
        entry.Download
            ? InstallEntry(entry, index, mAhead ? std::string() : FollowingDownload(table, index))
            : EntryOutcome::Installed;
    if (mAhead) mAhead->Drop(index);  // an entry that failed before its download
    entry.Failed = outcome == EntryOutcome::Abandoned;
    // A failed entry keeps what the record said before, so that the next pass tries it again.
    if (outcome == EntryOutcome::Installed)
      record.Write(entry);
    else
      mStatus = pass_status::EntryFailed;
    // Only a new updater that really arrived takes over: handing over to the old one would
    // start the same failing pass again, for ever.
    if (entry.Download && outcome == EntryOutcome::Installed && IsUpdaterItself(entry)) {
      // The new launcher reads its settings from the file this pass emptied: it gets the ones
      // this pass used, so that its fresh pass talks to the same server.
      HandOverSettings(*mEnv.Machine, *mEnv.Ini, entry.LocalPath, *mEnv.Settings);
      // The new launcher must not see this working copy still running: it takes this process's
      // place instead of starting beside it.
      record.Flush();
      mEnv.Ini->Flush();
      // A release being kept goes on in the new updater's pass.
      const bool keeping = mRelease->Pending() == ReleaseBackup::State::Installing;
      if (keeping) mRelease->SetState(ReleaseBackup::State::HandedOver);
      mErrLog.Close();
      mAhead.reset();
      MakeRunnable(Native(entry.TargetPath()));
      try {
        mEnv.ReplaceProgram(entry.TargetPath() + " " + mEnv.ArgumentText);
      } catch (const RuntimeError& error) {
        // The new updater never arrived (or cannot run): nobody takes over, so this pass goes
        // on to its end and says why instead of dying on the exception.
        if (keeping) mRelease->SetState(ReleaseBackup::State::Installing);
        mErrLog.Reopen();
        FailEntry(error.Description(), entry.Filename);
        mStatus = pass_status::EntryFailed;
      }
    }
  }

  mAhead.reset();
  mTransfer->Close();
  record.Flush();
  // A release that did not arrive whole goes back before anything of it runs.
  if (mStatus != pass_status::Completed) EndRelease(mStatus);
  const bool verify =
      mStatus == pass_status::Completed && mRelease->Pending() == ReleaseBackup::State::Installing;
  if (verify) mRelease->SetState(ReleaseBackup::State::Verifying);
  const std::optional<ProcessId> program = StartFinalProgram(
      table, files.Execute, files.ExecuteOption, files.ExecuteText, files.ExecuteIsNumber);
  if (verify) VerifyRelease(program, table, files);
  record.Flush();
  mErrLog.Close();
  mEnv.Window->Hide();
  return Finish(mStatus);
}

void UpdatePass::DeleteOldFiles(const FileEntry& entry) {
  // The installed file stays until its replacement has fully arrived and is renamed over it.
  // Only a copy under a substitute name ("x.ex_" for "x.exe"), which nothing replaces, goes now.
  if (MatchesWildcard(entry.Filename, "Tandor*") || !MatchesWildcard(entry.Filename, "*_") ||
      EqualsIgnoreCase(entry.Filename, entry.Realname))
    return;
  const fs::path file = Native(entry.LocalPath + "\\" + entry.Filename);
  struct stat info {};
  // A read-only file stays, as a plain delete leaves it.
  if (::lstat(file.c_str(), &info) != 0 || S_ISDIR(info.st_mode) || (info.st_mode & 0222) == 0)
    return;
  try {
    KeepForRollback(file);
  } catch (const RuntimeError&) {
    return;  // what cannot be kept stays
  }
  std::error_code ec;
  fs::remove(file, ec);
}

std::optional<ProcessId> UpdatePass::Start(const std::string& commandLine, WindowStyle style,
                                           const std::string& filename) {
  try {
    return StartProgram(*mEnv.Machine, commandLine, style);
  } catch (const RuntimeError& error) {
    FailEntry(error.Description(), filename);
    return std::nullopt;
  }
}

EntryOutcome UpdatePass::InstallEntry(FileEntry& entry, std::size_t index,
                                      const std::string& following) {
  mEnv.Ini->FlushDue();
  if (!TargetsAllowed(entry)) return EntryOutcome::Abandoned;
  if (mLauncherHeld && IsUpdaterItself(entry)) {
    // Its record stays as it was: the next pass replaces the updater.
    FailEntry(msg::UpdaterNotReplaced(entry.TargetPath()), entry.Filename);
    return EntryOutcome::Abandoned;
  }
  DeleteOldFiles(entry);
  EntryOutcome outcome = DownloadEntry(entry, index, following);
  if (!entry.Execute.empty() && !StartEntryProgram(entry, outcome))
    outcome = std::max(outcome, EntryOutcome::Failed);
  if (entry.SelfRegister && !Register(entry)) outcome = std::max(outcome, EntryOutcome::Failed);
  return outcome;
}

bool UpdatePass::StartEntryProgram(const FileEntry& entry, EntryOutcome soFar) {
  mEnv.Window->AddLine(msg::Starting(entry.Filename));
  MakeRunnable(Native(entry.TargetPath()));
  std::optional<ProcessId> pid = Start(entry.TargetPath() + " " + entry.ExecuteOption,
                                       StyleFromExecute(entry.Execute), entry.Filename);
  if (!pid) return false;
  if (!entry.Wait) return true;
  mEnv.Window->AddLine(msg::WaitingFor(entry.Filename));
  for (;;) {
    std::optional<int> code = PollExitCode(*pid);
    if (code && *code != kStillActive) break;
    mEnv.Ini->FlushDue();
    Pump();
    std::this_thread::sleep_for(kPollInterval);
  }
  mEnv.Window->AddLine(msg::Ended(entry.Filename));
  if (MatchesWildcard(entry.Realname, "MDAC*")) ShowRebootPrompt(entry, soFar, *mRecord);
  return true;
}

void UpdatePass::ShowRebootPrompt(const FileEntry& entry, EntryOutcome soFar,
                                  InstallationRecord& record) {
  if (soFar == EntryOutcome::Installed) record.Write(entry);
  record.Flush();
  mErrLog.Close();
  MessageAnswer answer = mEnv.Window->ShowMessage(
      "", msg::RebootNeeded(mEnv.ArgumentText), MessageIcon::Exclamation, MessageButtons::OkCancel);
  if (answer == MessageAnswer::Ok) throw Stop{pass_status::Completed};
  // The pass goes on: later lines belong in the same log.
  mErrLog.Reopen();
}

bool UpdatePass::Register(const FileEntry& entry) {
  try {
    RunRegsvr32(*mEnv.Settings, *mEnv.Machine, entry.TargetPath(), -1);
    return true;
  } catch (const RuntimeError& error) {
    FailEntry(error.Description(), entry.Filename);
    return false;
  }
}

bool UpdatePass::IsUpdaterItself(const FileEntry& entry) const {
  const std::string own =
      RemoveAll(mEnv.BaseName + std::string(kExecutableSuffix), mEnv.ArgumentText);
  return EqualsIgnoreCase(own, entry.Realname);
}

std::string UpdatePass::FollowingDownload(const EntryTable& table, std::size_t index) const {
  const FileEntry& entry = table.Entries[index];
  if (!entry.Download || !entry.Execute.empty() || entry.SelfRegister || entry.Extract ||
      IsUpdaterItself(entry))
    return {};
  for (std::size_t next = index + 1; next < table.Entries.size(); ++next) {
    const FileEntry& following = table.Entries[next];
    if (!following.Download) continue;
    // A download that may resume a kept part asks for its own range.
    if (!following.Sha256.empty()) return {};
    return following.ServerPath + "/" + following.Filename;
  }
  return {};
}

std::optional<ProcessId> UpdatePass::StartFinalProgram(const EntryTable& table, int index,
                                                       const std::string& options,
                                                       const std::string& executeText,
                                                       bool executeIsNumber) {
  if (!executeIsNumber || index < 0 || index > static_cast<int>(table.Entries.size())) {
    Report(msg::NoFinalProgram(executeText));
    return std::nullopt;
  }
  if (index == 0) return std::nullopt;
  const FileEntry& entry = table.Entries[static_cast<std::size_t>(index - 1)];
  if (entry.Failed) return std::nullopt;
  MakeRunnable(Native(entry.TargetPath()));
  std::optional<ProcessId> pid =
      Start(entry.TargetPath() + " " + options, WindowStyle::NormalFocus, entry.Filename);
  if (!pid) mStatus = pass_status::EntryFailed;
  return pid;
}

}  // namespace tandor
