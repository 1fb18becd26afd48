#pragma once
// One download call of FTP as it runs, from its request to its file. It lives as long as the
// call; the request sent ahead for a file writes into it once that file is asked for.

#include <cstdint>
#include <string>
#include <string_view>

#include "transfer/ChunkedDownload.h"
#include "transfer/CurlHandle.h"
#include "transfer/DownloadRequest.h"
#include "transfer/DownloadSource.h"
#include "transfer/TransferEvents.h"

namespace tandor {

struct FileDownload {
  FileDownload(const DownloadRequest& request, const DownloadSource& source,
               std::string_view simpleLabel, const FtpEvents& events, bool& overLimit)
      : Request(request),
        Source(source),
        SimpleLabel(simpleLabel),
        Sink(request.Target, events),
        OverLimit(overLimit) {}

  const DownloadRequest& Request;  // its names trimmed
  const DownloadSource& Source;
  // The one-call transfer's label: no events, no size rule, every failure under that label.
  std::string_view SimpleLabel;
  ChunkedDownload Sink;
  bool& OverLimit;  // set when the file was larger than the request's limit

  std::string Url{};
  CURL* Curl = nullptr;
  const std::int64_t* FtpSize = nullptr;  // what the FTP server answered to SIZE; -1: nothing
  bool Ahead = false;                     // the request sent ahead for this file carries it
  bool Resuming = false;     // asked for the rest of a part kept from an earlier attempt
  bool Checked = false;      // status and size looked at
  bool Refused = false;      // the size rule stopped the transfer; nothing to record
  bool UnknownSize = false;  // an FTP server that gave no size
  std::int64_t HttpSize = -2;
  std::int64_t RequestLimit = -1;  // the bytes its request may bring; -1: any number

  bool Simple() const { return !SimpleLabel.empty(); }
};

// The label of a read that failed after `received` of `total` bytes: the full chunks have
// theirs, the last partial chunk its own.
std::string_view ReadLabel(std::int64_t received, std::int64_t total);

}  // namespace tandor
