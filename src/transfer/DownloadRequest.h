#pragma once
// One download as the update pass asks for it, and what came of it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "util/Integrity.h"

namespace tandor {

// The protocol of a connection: FTP(S) with active or passive data connections, or HTTP(S).
enum class TransferProtocol { FtpActive, FtpPassive, Http };

constexpr TransferProtocol TransferProtocolFor(bool http, bool passive) {
  return http      ? TransferProtocol::Http
         : passive ? TransferProtocol::FtpPassive
                   : TransferProtocol::FtpActive;
}

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
  // The server turned the request away for its load (HTTP 503 or 429, FTP 421): asked again
  // once it serves fewer connections, it may serve it.
  bool Busy = false;

  bool Done() const { return Status == State::Done; }
};

}  // namespace tandor
