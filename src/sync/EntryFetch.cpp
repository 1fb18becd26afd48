// How an entry's file arrives: ahead of its turn on a worker's connection, from a patch to the
// installed version, or whole on the pass's own connection.

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "delta/Delta.h"
#include "manifest/FileEntry.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "sync/EntryInstaller.h"
#include "sync/EntryRules.h"
#include "sync/PassContext.h"
#include "sync/ReleaseGuard.h"
#include "sync/WritePolicy.h"
#include "text/TextCase.h"
#include "transfer/DownloadPool.h"
#include "transfer/Downloader.h"
#include "ui/Messages.h"
#include "unzip/Unzip32.h"
#include "util/Integrity.h"

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

DownloadRequest EntryInstaller::Request(const FileEntry& entry) const {
  const std::string target = entry.LocalPath + "\\" + InstalledName(entry.Filename, entry.Realname);
  DownloadRequest request{.Target = mPass.Native(target),
                          .Remote = entry.ServerPath + "/" + entry.Filename};
  // A server that sends more (an endless stream among them) is stopped there.
  if (!entry.Size.empty() && !entry.SizeLimit)
    throw RuntimeError(err::PathFileAccess,
                       "Size=" + entry.Size + " is not a number of bytes; not installed");
  if (entry.SizeLimit) request.Limit = *entry.SizeLimit;
  if (!entry.Sha256.empty() && !entry.Digest)
    throw RuntimeError(err::PathFileAccess,
                       "SHA256=" + entry.Sha256 + " is not 64 hex digits; not installed");
  request.Sha256 = entry.Digest;
  return request;
}

void EntryInstaller::StartDownloadsAhead(const EntryTable& table) {
  const ClientSettings& s = *mPass.Env.Settings;
  const std::optional<ServerAddress>& served = mPass.Server;
  if (s.Connections < 2 || table.DownloadCount < 2 || !served || !served->Port) return;
  PoolServer server{.Address = served->Host,
                    .User = s.User,
                    .Password = s.Password,
                    .Port = *served->Port,
                    .Protocol = mPass.Protocol()};
  mAhead = std::make_unique<DownloadPool>(*mPass.TransferOptions, std::move(server), s.Connections,
                                          mPass.ManifestTime);
}

void EntryInstaller::RunAhead(const EntryTable& table, std::size_t index) {
  if (!mAhead) return;
  // Twice the connections: a worker that ends finds the next file waiting.
  const std::size_t width = 2 * static_cast<std::size_t>(mPass.Env.Settings->Connections);
  mAheadNext = std::max(mAheadNext, index);
  while (mAheadNext < table.Entries.size() && mAhead->Pending() < width && !mAhead->Troubled()) {
    if (mAheadNext > index && !mFetch.MayRunPast(table.Entries[mAheadNext - 1].Entry)) return;
    const std::size_t next = mAheadNext++;
    SendAhead(table.Entries[next], next);
  }
}

std::string EntryInstaller::Following(const EntryTable& table, std::size_t index) const {
  return mAhead ? std::string() : mFetch.Following(table.Entries, index);
}

void EntryInstaller::Done(std::size_t index) {
  if (mAhead) mAhead->Drop(index);
}

void EntryInstaller::StopDownloadsAhead() {
  mAhead.reset();
}

void EntryInstaller::SendAhead(const PlannedEntry& planned, std::size_t index) {
  if (!planned.Download) return;
  const FileEntry& entry = planned.Entry;
  try {
    DownloadRequest request = Request(entry);
    const bool outside = !mWrites.TargetOutside(entry).empty();
    if (mFetch.Ahead(planned, outside, request.Target) != AheadFetch::Ahead) return;
    CreateFolderChain(*mPass.Env.Machine, entry.LocalPath);
    mAhead->Submit(index, std::move(request));
  } catch (const RuntimeError&) {
  }
}

EntryOutcome EntryInstaller::Download(const FileEntry& entry, std::size_t index,
                                      const std::string& following) {
  UpdateWindow& window = *mPass.Env.Window;
  window.AddLine(msg::Downloading(entry.Filename));
  if (!entry.Caption.empty() && mPass.Env.FormWindowOpen(entry.Caption)) {
    window.ShowMessage(msg::kApplicationTitle, msg::ProgramStillOpen(entry.Caption),
                       MessageIcon::Critical, MessageButtons::Ok);
    throw Stop{pass_status::Refused};
  }
  ResetAttributes(mPass.Native(entry.LocalPath + "\\" + entry.Filename));
  for (const std::string& ignored : entry.IgnoredDeltas)
    mPass.ErrLog.WriteLine(msg::DeltaIgnored(ignored));

  try {
    DownloadRequest request = Request(entry);
    request.Following = following;
    mRelease.Keep(request.Target);
    CreateFolderChain(*mPass.Env.Machine, entry.LocalPath);
    const auto start = std::chrono::steady_clock::now();
    TransferResult transferred;
    std::chrono::steady_clock::duration elapsed{};
    std::int64_t shown = -1;
    const auto progress = [&](std::int64_t received, std::int64_t total) {
      if (received != shown) window.ShowProgress(shown = received, total);
      mPass.Pump();
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
      if (!InstallFromPatch(entry, request)) transferred = DownloadAtTurn(entry, request);
      elapsed = std::chrono::steady_clock::now() - start;
    }
    EntryOutcome outcome = EntryOutcome::Installed;
    if (transferred.Done()) {
      const std::string done = msg::Downloaded(entry.Filename, ElapsedText(elapsed));
      window.AddLine(done);
      mPass.ErrLog.WriteLine(done);
    } else {
      mPass.FailEntry(PassContext::FailureText(transferred), entry.Filename);
      outcome = EntryOutcome::Failed;
    }
    window.SelectLastLine();

    // An archive that did not arrive is not extracted: the old one would only put back what is
    // already there.
    if (entry.Extract && transferred.Done()) {
      window.AddLine(msg::Extracting(entry.Filename));
      if (!Extract(entry, entry.ExtractTo)) {
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
    mPass.FailEntry(error.Description(), entry.Filename);
  } catch (const std::exception& error) {
    mPass.FailEntry(error.what(), entry.Filename);
  }
  return EntryOutcome::Abandoned;
}

TransferResult EntryInstaller::DownloadAtTurn(const FileEntry& entry,
                                              const DownloadRequest& request) {
  try {
    TransferResult result = mPass.Transfer->Download(request);
    // A server that limits its connections may have given them all to the workers.
    if (!result.Busy || !mAhead) return result;
    mPass.Report(msg::ServerBusyAhead(entry.Filename, result.Text));
  } catch (const RuntimeError& error) {
    if (error.SystemError() != ENOSPC || !mAhead) throw;
    mPass.Report(msg::NoRoomAhead(entry.Filename));
  }
  mAhead.reset();  // stops the workers; the files they fetched go
  // A server notices the workers' connections closed a moment later: a busy answer is asked
  // again a few times, a little later each time (3 s in all).
  TransferResult result = mPass.Transfer->Download(request);
  for (auto wait = std::chrono::milliseconds(100); result.Busy && wait <= std::chrono::seconds(2);
       wait *= 2) {
    const auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      mPass.Pump();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    result = mPass.Transfer->Download(request);
  }
  return result;
}

bool EntryInstaller::InstallFromPatch(const FileEntry& entry, const DownloadRequest& request) {
  if (!request.Sha256 || !FetchPolicy::MayPatch(entry, request.Target)) return false;
  const std::optional<Sha256Digest> installed = Sha256OfFile(request.Target);
  const auto delta = std::find_if(entry.Deltas.begin(), entry.Deltas.end(),
                                  [&](const EntryDelta& d) { return installed == d.Base; });
  if (delta == entry.Deltas.end()) return false;
  try {
    MakeFromPatch(entry, *delta, request);
    return true;
  } catch (const std::exception& error) {  // RuntimeError's what() is its description
    mPass.Report(msg::PatchUnusable(delta->Patch, error.what()));
  }
  return false;
}

void EntryInstaller::MakeFromPatch(const FileEntry& entry, const EntryDelta& delta,
                                   const DownloadRequest& request) {
  const fs::path& target = request.Target;
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(target, ec);
  SiblingFile patch(target);
  const TransferResult fetched =
      mPass.Transfer->Download({.Target = patch.Path(),
                                .Remote = entry.ServerPath + "/" + delta.Patch,
                                .Limit = static_cast<std::int64_t>(MostPatchBytes(ec ? 0 : size))});
  if (!fetched.Done()) throw RuntimeError(err::PathFileAccess, PassContext::FailureText(fetched));

  SiblingFile result(target);
  ApplyPatch(target, patch.Path(), result.Path(), FreeSpaceMarginOf(target.parent_path()),
             mPass.Env.FreeSpace);
  const std::optional<Sha256Digest> made = Sha256OfFile(result.Path());
  if (made != request.Sha256)
    throw RuntimeError(err::PathFileAccess, msg::PatchResultWrong(made ? Sha256Hex(*made) : "?"));
  result.RenameTo(target);
}

}  // namespace tandor
