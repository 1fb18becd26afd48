#include "sync/ServerSelection.h"

#include <cstdio>
#include <vector>

#include "manifest/ManifestReader.h"
#include "manifest/ManifestRules.h"
#include "platform/Error.h"
#include "platform/Prefix.h"
#include "platform/Unattended.h"
#include "settings/IniStore.h"
#include "sync/PassContext.h"
#include "text/TextCase.h"
#include "transfer/Downloader.h"
#include "transfer/RateLimit.h"
#include "ui/Messages.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// The pass's connection, its events and options, as the settings ask for them.
void CreateTransfer(PassContext& pass) {
  const ClientSettings& s = *pass.Env.Settings;
  FtpEvents events;
  // A stop thrown here leaves the transfer as any event handler's exception does: the transfer
  // ends, its temporary file goes, and the stop reaches the pass.
  events.ProcessPendingMessages = [&pass] { pass.Pump(); };
  events.WaitingForData = [&pass] {
    pass.Env.Window->WaitingForData();
    pass.StopIfExitRequested();
  };
  events.FileTransferProgress = [&pass](std::int64_t current, std::int64_t total) {
    pass.Env.Window->ShowProgress(current, total);
    pass.StopIfExitRequested();
  };
  FtpOptions options;
  options.ServerCodePage = pass.Env.Machine->AnsiCodePage();
  options.IdleTimeout = pass.Env.TransferIdleLimit;
  options.FreeSpace = pass.Env.FreeSpace;
  options.Tls = s.Tls;
  if (!s.CaFile.empty()) options.CaFile = pass.Native(s.CaFile).string();
  options.Proxy = s.Proxy;
  // One cap for every download of the pass, whatever connection it takes.
  if (s.MaxBytesPerSecond > 0)
    options.DownloadRate = std::make_shared<RateLimit>(s.MaxBytesPerSecond);
  if (s.MaxKBpsIgnored) pass.ErrLog.WriteLine(msg::MaxKBpsIgnored(s.MaxKBpsText));
  pass.TransferOptions = std::make_unique<FtpOptions>(options);
  pass.Transfer =
      std::make_unique<Downloader>(std::move(events), std::move(options), pass.Protocol());
}

// Opens the servers in order until one serves the manifest. Done also when a server answered
// but none served a manifest: `failure` then holds the last such failure, and no server is
// named. Otherwise the last connection failure.
TransferResult ReachServer(PassContext& pass, std::optional<ManifestFailure>& failure) {
  const ClientSettings& s = *pass.Env.Settings;
  const std::vector<ServerAddress> servers = s.Servers();
  // One server is reported as it always was; several are each named.
  const bool several = servers.size() > 1;
  TransferResult opened{TransferResult::State::Failed, 0, ""};
  for (const ServerAddress& server : servers) {
    // A port that is no number cannot connect either.
    opened = server.Port ? pass.Transfer->Open(server.Host, s.User, s.Password, *server.Port)
                         : TransferResult{TransferResult::State::Failed, 0, ""};
    std::string reason;
    if (!opened.Done()) {
      reason = server.Port ? opened.Text : msg::NotAPort(server.PortText);
    } else if ((failure = TakeManifest(pass, ManifestFileName(pass.Env.Version)))) {
      reason = failure->Text;
    } else {
      pass.Server = server;
      if (several) pass.Report(msg::ServerInUse(server.Text));
      return opened;
    }
    if (several) pass.Report("Error:" + msg::ServerUnusable(server.Text, reason));
  }
  // A server that answered without a manifest says more than one that did not answer.
  return failure ? TransferResult{} : opened;
}

}  // namespace

std::optional<PassOutcome> SelectServer(PassContext& pass) {
  const ClientSettings& s = *pass.Env.Settings;
  CreateTransfer(pass);
  pass.Env.Window->SetCaption(pass.Caption());
  pass.Env.Window->AddLine(msg::Connecting(pass.Env.ArgumentText, s.MethodText));
  const bool known = s.Method != TransferMethod::Unknown;
  TransferResult opened;
  if (known) {
    std::optional<ManifestFailure> failure;
    opened = ReachServer(pass, failure);
    if (opened.Done() && pass.Server) return std::nullopt;
    if (opened.Done()) {
      pass.Fail(pass_status::NoServer);
      ReportManifestFailure(pass, *failure);
      return PassOutcome{.Status = pass_status::NoServer};
    }
  }
  pass.Env.Window->Show();
  pass.Pump();
  if (known) {
    pass.Report(msg::ConnectionFailed(LowerAscii(s.MethodText), s.Address));
    // A secure connection says why it failed: a certificate refused is not a server away; nor
    // is a proxy that refused. Without a window nobody can look further either: the transfer
    // client's reason follows.
    if ((s.Tls || opened.ProxyRefused) && !opened.Text.empty()) {
      pass.Report("Error:" + PassContext::FailureText(opened));
    } else if (IsUnattended()) {
      std::printf("%s\n", opened.Text.c_str());
      std::fflush(stdout);
    }
  } else {
    pass.Report("Error:" + msg::UnknownMethod(s.MethodText));
  }
  pass.Env.Window->SetBusyPointer(false);
  return PassOutcome{.Status = pass_status::NoServer, .WaitForExit = true};
}

std::optional<ManifestFailure> TakeManifest(PassContext& pass, const std::string& name) {
  const fs::path local = pass.LocalCopy(name);
  const std::string remote = pass.RemoteManifest(name);
  std::error_code ec;
  fs::create_directory(pass.Native(pass.ProductFolder()), ec);
  // Also what a server tried before left there (an error page).
  if (fs::exists(local, ec)) fs::remove(local, ec);
  pass.Env.Ini->Forget(local);
  TransferResult result;
  const auto start = std::chrono::steady_clock::now();
  try {
    result =
        pass.Transfer->Download({.Target = local, .Remote = remote, .Limit = kManifestByteLimit});
    pass.ManifestTime = std::chrono::steady_clock::now() - start;
  } catch (const RuntimeError& error) {
    // No room on the disk, a folder that cannot be written: no server would do better.
    return ManifestFailure{true, msg::ManifestNotStored(remote, error.Description())};
  }
  if (result.Status == TransferResult::State::OverLimit)
    return ManifestFailure{false, msg::ManifestTooLarge(remote, kManifestByteLimit >> 20)};
  if (!result.Done()) return ManifestFailure{false, PassContext::FailureText(result)};
  if (pass.Env.Ini->HasSection("Files", local) || pass.Env.Ini->HasSection("File1", local))
    return std::nullopt;
  return ManifestFailure{true, msg::NotAManifest(remote)};
}

void ReportManifestFailure(PassContext& pass, const ManifestFailure& failure) {
  UpdateWindow& window = *pass.Env.Window;
  window.Show();
  pass.Pump();
  if (failure.NotAManifest) {
    // A manifest that is no manifest ends the pass, rather than installing nothing.
    pass.Report("Error:" + failure.Text);
    window.ShowMessage(msg::kApplicationTitle, failure.Text, MessageIcon::Critical,
                       MessageButtons::Ok);
  } else {
    pass.ErrLog.WriteLine("Error:" + failure.Text);
    window.ShowMessage("", failure.Text, MessageIcon::None, MessageButtons::Ok);
  }
}

void RefuseManifest(PassContext& pass, const std::string& text) {
  pass.Env.Window->Show();
  pass.Pump();
  pass.Report("Error:" + text);
  pass.Env.Window->ShowMessage(msg::kApplicationTitle, text, MessageIcon::Critical,
                               MessageButtons::Ok);
}

}  // namespace tandor
