// Files from an FTP server: SIZE, then RETR on the open control connection.
#include <algorithm>
#include <exception>

#include "transfer/DownloadSource.h"
#include "transfer/FTP.h"
#include "transfer/FileDownload.h"
#include "transfer/InternetError.h"

namespace tandor {

namespace {

// The path libcurl names in the commands of an FTP `url`: its path with the dot segments
// resolved, less the leading "/", decoded. Empty when it cannot be decoded or holds a control
// character.
std::string FtpCommandPath(const std::string& url) {
  CurlUrl handle(curl_url());
  char* path = nullptr;
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(handle.get(), CURLUPART_PATH, &path, CURLU_URLDECODE) != CURLUE_OK)
    return {};
  std::string decoded(path);
  curl_free(path);
  if (std::any_of(decoded.begin(), decoded.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
    return {};
  return decoded.empty() ? decoded : decoded.substr(1);
}

}  // namespace

std::string FtpSource::Url(const FTP& client, std::string_view remote) const {
  return client.FtpUrl(client.ToServer(remote), false);
}

void FtpSource::SetOptions(const FTP& client, CURL* curl) const {
  const FtpOptions& options = client.mOptions;
  if (options.Tls) curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  // Through a tunnel, commands and data connections alike: a proxy's own FTP gateway would
  // know nothing of SIZE, REST or the current folder.
  curl_easy_setopt(curl, CURLOPT_HTTPPROXYTUNNEL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
  // Names go to the server as given, relative to its current folder, which
  // SetFTPDirectory changes and libcurl must not.
  curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  if (!client.mPassiveConnection) curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
  curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                   static_cast<long>(options.IdleTimeout.count()));
  curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS,
                   static_cast<long>(options.IdleTimeout.count() * 1000));
  curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT,
                   client.mTransferType == FTP::TransferTypeAscii ? 1L : 0L);
}

void FtpSource::SetDownload(FTP& client, const std::string& url, std::int64_t offset) const {
  curl_easy_setopt(client.mCurl.get(), CURLOPT_URL, url.c_str());
  SetSizeQuery(client, url, offset);
}

// libcurl reads an FTP download no further than the size SIZE announced, so a server that
// announces less than it sends has its file cut there and taken for whole. Here the end of the
// data connection is the end of the file: libcurl asks no size, and SIZE goes out ahead of RETR
// as a command of our own, its answer checked against what arrives. A resumed download says
// where to start the same way, since libcurl sends REST only after its own SIZE. Text mode asks
// its size separately, as servers do not count the changed line ends.
void FtpSource::SetSizeQuery(FTP& client, const std::string& url, std::int64_t offset) {
  if (client.mTransferType == FTP::TransferTypeAscii) return;
  const std::string path = FtpCommandPath(url);
  if (path.empty()) return;  // libcurl refuses such a name itself
  CURL* curl = client.mCurl.get();
  curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  client.mFtpPrequote = CurlList();
  client.mFtpPrequote.Append("SIZE " + path);
  if (offset > 0) client.mFtpPrequote.Append("REST " + std::to_string(offset));
  curl_easy_setopt(curl, CURLOPT_PREQUOTE, client.mFtpPrequote.Get());
}

bool FtpSource::Prepare(FTP& client, FileDownload& download) const {
  if (download.Simple() || client.mTransferType != FTP::TransferTypeAscii) return true;
  // Text mode changes line ends on the way, and libcurl does not ask the size.
  const std::int64_t size = client.GetFTPFileSize(download.Request.Remote);
  if (size <= 0) return false;
  download.Sink.SetTotal(size);
  download.Sink.AllowSizeChange();
  return true;
}

bool FtpSource::CheckBeforeFirstByte(FileDownload& download) const {
  ChunkedDownload& sink = download.Sink;
  if (sink.Total() >= 0) return true;  // known beforehand (text mode)
  if (*download.FtpSize < 0) {
    download.UnknownSize = true;
    return false;
  }
  // A server that says the file is shorter than the part kept of it leaves no byte to take.
  sink.SetTotal(std::max<std::int64_t>(0, *download.FtpSize - sink.Offset()));
  return true;
}

bool FtpSource::Transfer(FTP& client, FileDownload& download) const {
  ChunkedDownload& sink = download.Sink;
  const FTP::RequestState& request = client.mRequest;
  const CURLcode result = client.RunDownload(download);
  if (sink.Failure()) std::rethrow_exception(sink.Failure());
  if (client.RefusedOverLimit(download)) {
    // The control connection may be in the middle of a command sequence.
    client.DropConnection();
    return false;
  }
  if (download.Simple()) {
    if (result == CURLE_OK) return true;
    client.RecordCurl(download.SimpleLabel, result);
    return false;
  }
  // A missing file: SIZE answered 550.
  if (request.LastCommand == "SIZE" && client.mLastReplyCode == 550 && result != CURLE_OK)
    return false;
  if (download.UnknownSize) {
    client.Record("FtpFindFirstFile", inet::InvalidServerResponse);
    return false;
  }
  if (sink.Overflowed() || request.ExcessData) {
    client.Record(ReadLabel(sink.Total(), sink.Total()), inet::InvalidServerResponse);
    return false;
  }
  if (result != CURLE_OK) {
    if (request.LastCommand == "SIZE") {
      client.RecordCurl("FtpFindFirstFile", result);
    } else if (!request.DataStarted && sink.Received() == 0) {
      client.RecordCurl("FtpOpenFile:GetFile", result);
    } else {
      const std::int64_t length = sink.Total() >= 0 ? sink.Total() : request.AnnouncedSize;
      client.RecordCurl(ReadLabel(sink.Received(), length), result);
    }
    return false;
  }
  if (!download.Checked) {
    // Nothing arrived: an empty remote file is refused without a message.
    if (request.AnnouncedSize == 0) return false;
    if (request.AnnouncedSize < 0) {
      client.Record("FtpFindFirstFile", inet::InvalidServerResponse);
      return false;
    }
    sink.SetTotal(std::max<std::int64_t>(0, request.AnnouncedSize - sink.Offset()));
  }
  return !client.ArrivedShort(sink);
}

}  // namespace tandor
