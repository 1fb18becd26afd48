#pragma once
// The narrow transfer client of the update pass: one connection to one server, and downloads
// that are requests in and results out. Each request carries what its download needs (the
// digest the file must have, a size it must not pass, the file that comes after it); nothing is
// set beforehand, and no text of an earlier failure is left to compare. The publisher and the
// listings keep the whole FTP class.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "transfer/FTP.h"
#include "util/Integrity.h"

namespace tandor {

struct DownloadRequest {
  std::filesystem::path Target{};  // the local file; it gets its name only once complete
  std::string Remote{};            // the server's path
  // The digest the file must have, or it does not replace the target; a part of a broken
  // download is then kept to be resumed.
  std::optional<Sha256Digest> Sha256{};
  // Where a broken part is kept for a later attempt, and found again; empty: Target with
  // ".partial" added.
  std::filesystem::path Partial{};
  // The largest the file may be; -1: no bound.
  std::int64_t Limit = -1;
  // The download that comes after this one, if the caller knows it: its request goes out while
  // this file is put on disk.
  std::string Following{};
};

struct TransferResult {
  enum class State { Done, Failed, OverLimit };
  State Status = State::Done;
  // The internet library's number of the failure; 0 when none was recorded.
  int Code = 0;
  // What failed, as the log and the window say it; empty when done.
  std::string Text;
  // The proxy refused the request: Text is its answer.
  bool ProxyRefused = false;

  bool Done() const { return Status == State::Done; }
};

class Downloader {
 public:
  // `http`: HTTP(S) instead of FTP(S); `passive`: passive FTP data connections.
  Downloader(FtpEvents events, FtpOptions options, bool http, bool passive);
  ~Downloader();
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  // FTP: connects and logs in; HTTP: notes the server, which the first request connects to.
  TransferResult Open(std::string_view address, std::string_view user, std::string_view password,
                      int port);
  TransferResult Download(const DownloadRequest& request);
  void Close();

 private:
  // The transfer client's text for the failure it recorded since `before`, or ours when it
  // recorded none (a missing or empty file).
  TransferResult Failure(const std::string& before, const std::string& remote) const;

  std::unique_ptr<FTP> mFtp;
  bool mHttp;
};

}  // namespace tandor
