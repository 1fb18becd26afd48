// The update pass's steps for one entry: fetch the file, report it, extract it.

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>

#include "platform/Error.h"
#include "platform/Prefix.h"
#include "sync/UpdatePass.h"
#include "text/TextCase.h"
#include "transfer/DownloadPool.h"
#include "transfer/Downloader.h"
#include "ui/Messages.h"
#include "unzip/Unzip32.h"
#include "unzip/UnzipStatus.h"
#include "util/Integrity.h"
#include "util/PathMacros.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Seconds as a single-precision number in its shortest usual text form ("1.5", "0.0234375").
std::string ElapsedText(std::chrono::steady_clock::duration elapsed) {
  float seconds = std::chrono::duration<float>(elapsed).count();
  char text[32];
  std::snprintf(text, sizeof text, "%.7g", static_cast<double>(seconds));
  return text;
}

// Clears the read-only attribute: gives the owner write permission back.
void ResetAttributes(const fs::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  ::chmod(file.c_str(), (info.st_mode & 07777) | S_IWUSR);
}

// Creates every missing folder of a Windows-form path, from its first part to the whole.
void CreateFolderChain(const Prefix& prefix, const std::string& localPath) {
  std::string sofar;
  std::size_t start = 0;
  while (start <= localPath.size()) {
    std::size_t stop = localPath.find('\\', start);
    if (stop == std::string::npos) stop = localPath.size();
    sofar = localPath.substr(0, stop);
    start = stop + 1;
    if (sofar.empty() || (sofar.size() == 2 && sofar[1] == ':')) continue;
    const fs::path folder = prefix.ToNative(sofar);
    std::error_code ec;
    if (fs::is_directory(folder, ec)) continue;
    if (!fs::create_directory(folder, ec) && !fs::is_directory(folder))
      throw RuntimeError(err::PathNotFound,
                         "Path not found: " + sofar + (ec ? " (" + ec.message() + ")" : ""));
  }
}

}  // namespace

DownloadRequest UpdatePass::EntryDownload(const FileEntry& entry) const {
  const std::string target =
      entry.LocalPath + "\\" +
      (MatchesWildcard(entry.Filename, "*_") ? entry.Realname : entry.Filename);
  DownloadRequest request{.Target = Native(target),
                          .Remote = entry.ServerPath + "/" + entry.Filename};
  if (!entry.Size.empty()) {
    // A server that sends more (an endless stream among them) is stopped there.
    const auto [end, error] =
        std::from_chars(entry.Size.data(), entry.Size.data() + entry.Size.size(), request.Limit);
    if (error != std::errc() || end != entry.Size.data() + entry.Size.size() || request.Limit < 0)
      throw RuntimeError(err::PathFileAccess,
                         "Size=" + entry.Size + " is not a number of bytes; not installed");
  }
  if (!entry.Sha256.empty()) {
    request.Sha256 = ParseSha256(entry.Sha256);
    if (!request.Sha256)
      throw RuntimeError(err::PathFileAccess,
                         "SHA256=" + entry.Sha256 + " is not 64 hex digits; not installed");
  }
  return request;
}

void UpdatePass::StartDownloadsAhead(const EntryTable& table) {
  const ClientSettings& s = *mEnv.Settings;
  if (s.Connections < 2 || table.DownloadCount < 2 || !mServer || !mServer->Port) return;
  PoolServer server{.Address = mServer->Host,
                    .User = s.User,
                    .Password = s.Password,
                    .Port = *mServer->Port,
                    .Http = IsHttp(s.Method),
                    .Passive = s.Passive};
  mAhead = std::make_unique<DownloadPool>(*mTransferOptions, std::move(server), s.Connections,
                                          mManifestTime);
}

void UpdatePass::RunAhead(const EntryTable& table, std::size_t index) {
  if (!mAhead) return;
  // Twice the connections: a worker that ends finds the next file waiting.
  const std::size_t width = 2 * static_cast<std::size_t>(mEnv.Settings->Connections);
  mAheadNext = std::max(mAheadNext, index);
  while (mAheadNext < table.Entries.size() && mAhead->Pending() < width && !mAhead->Troubled()) {
    // A program the pass waits for may change any file, and a new updater ends the pass: what
    // follows them waits until their turn is over.
    if (mAheadNext > index) {
      const FileEntry& before = table.Entries[mAheadNext - 1];
      if ((!before.Execute.empty() && before.Wait) || IsUpdaterItself(before)) return;
    }
    const std::size_t next = mAheadNext++;
    if (table.Entries[next].Download) SendAhead(table.Entries[next], next);
  }
}

void UpdatePass::SendAhead(const FileEntry& entry, std::size_t index) {
  // What its turn refuses is not fetched: it says so then.
  if ((mLauncherHeld && IsUpdaterItself(entry)) || !TargetOutside(entry).empty()) return;
  try {
    DownloadRequest request = EntryDownload(entry);
    // Its turn fetches the patch on the pass's own connection; the whole file only if need be.
    if (MayTakePatch(entry, request.Target)) return;
    CreateFolderChain(*mEnv.Machine, entry.LocalPath);
    mAhead->Submit(index, std::move(request));
  } catch (const RuntimeError&) {
  }
}

EntryOutcome UpdatePass::DownloadEntry(FileEntry& entry, std::size_t index,
                                       const std::string& following) {
  UpdateWindow& window = *mEnv.Window;
  window.AddLine(msg::Downloading(entry.Filename));
  if (!entry.Caption.empty() && mEnv.FormWindowOpen(entry.Caption)) {
    window.ShowMessage(msg::kApplicationTitle, msg::ProgramStillOpen(entry.Caption),
                       MessageIcon::Critical, MessageButtons::Ok);
    throw Stop{pass_status::Refused};
  }
  ResetAttributes(Native(entry.LocalPath + "\\" + entry.Filename));
  for (const std::string& ignored : entry.IgnoredDeltas)
    mErrLog.WriteLine(msg::DeltaIgnored(ignored));

  try {
    DownloadRequest request = EntryDownload(entry);
    request.Following = following;
    KeepForRollback(request.Target);
    CreateFolderChain(*mEnv.Machine, entry.LocalPath);
    const auto start = std::chrono::steady_clock::now();
    TransferResult transferred;
    std::chrono::steady_clock::duration elapsed{};
    std::int64_t shown = -1;
    const auto progress = [&](std::int64_t received, std::int64_t total) {
      if (received != shown) window.ShowProgress(shown = received, total);
      Pump();
    };
    auto taken = mAhead ? mAhead->Take(index, progress) : std::nullopt;
    // A worker's connection may fail where the pass's own does not (a server that counts
    // connections, one that dropped an idle one): what failed ahead is asked for once more here,
    // and this answer is the one reported. A file the server stalled is not: each ask would
    // wait out the idle limit.
    if (taken && taken->Result.Status == TransferResult::State::Failed && !taken->Stalled)
      taken.reset();
    if (taken) {
      transferred = std::move(taken->Result);
      elapsed = taken->Elapsed;
    } else {
      if (!InstallFromPatch(entry, request)) transferred = mTransfer->Download(request);
      elapsed = std::chrono::steady_clock::now() - start;
    }
    EntryOutcome outcome = EntryOutcome::Installed;
    if (transferred.Done()) {
      const std::string done = msg::Downloaded(entry.Filename, ElapsedText(elapsed));
      window.AddLine(done);
      mErrLog.WriteLine(done);
    } else {
      FailEntry(FailureText(transferred), entry.Filename);
      outcome = EntryOutcome::Failed;
    }
    window.SelectLastLine();

    // An archive that did not arrive is not extracted: the old one would only put back what is
    // already there.
    if (entry.Extract && transferred.Done()) {
      window.AddLine(msg::Extracting(entry.Filename));
      if (!ExtractEntry(entry, entry.ExtractTo)) {
        std::string reason = msg::ExtractionFailed(entry.Filename);
        if (const auto& shortage = mUnzip->LastShortage())
          reason +=
              ": " + msg::TooLittleSpace(shortage->Needed, shortage->Margin, shortage->Available);
        for (const std::string& link : mUnzip->LastRefusedLinks())
          reason += ": " + msg::LinkLeadsOut(link);
        throw RuntimeError(err::PathFileAccess, reason);
      }
      window.AddLine(msg::Extracted(entry.Filename));
    }
    return outcome;
  } catch (const RuntimeError& error) {
    FailEntry(error.Description(), entry.Filename);
  } catch (const std::exception& error) {
    FailEntry(error.what(), entry.Filename);
  }
  return EntryOutcome::Abandoned;
}

bool UpdatePass::ExtractEntry(const FileEntry& entry, const std::string& extractTo) {
  const std::string archive = entry.LocalPath + "\\" + entry.Filename;
  // Each member's old file is kept before the member replaces it, as the download's is.
  // Members stay in the extraction folder and pass no link: the folder names are enough.
  const auto keep = [this, &entry](const fs::path& member) {
    if (InBackup(member)) {
      FailEntry(msg::OutsideTheMachine(member.string()), entry.Filename);
      return false;
    }
    try {
      KeepForRollback(member);
      return true;
    } catch (const RuntimeError& error) {
      FailEntry(error.Description(), entry.Filename);
      return false;
    }
  };
  mUnzip->SetUnzipOptions(
      {.ZipFile = Native(archive), .TargetFolder = Native(extractTo), .BeforeReplace = keep});
  const std::int32_t status = mUnzip->RunUnzip();
  mBackupPlaces.reset();
  if (status == unzipstatus::Ok) return true;
  std::string text = msg::ExtractionError(archive);
  if (const auto& shortage = mUnzip->LastShortage())
    text += msg::TooLittleSpace(shortage->Needed, shortage->Margin, shortage->Available);
  else if (status == unzipstatus::DiskError)
    text += msg::CloseIfRunning(ReplaceIgnoringCase(entry.Realname, ".exe", ""));
  else
    text += msg::kAskTheAdministrator;
  mEnv.Window->ShowMessage(msg::kApplicationTitle, text, MessageIcon::Critical, MessageButtons::Ok);
  return false;
}

}  // namespace tandor
