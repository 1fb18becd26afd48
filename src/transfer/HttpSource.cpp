// Files from an HTTP server: one GET each, resumed with a range when a part was kept.
#include <exception>

#include "transfer/DownloadSource.h"
#include "transfer/FTP.h"
#include "transfer/FileDownload.h"
#include "transfer/InternetError.h"

namespace tandor {

namespace {

// A 200 reply without a length: chunked, or ended by closing the connection.
constexpr std::int64_t UnknownLength = -3;

// The size rule of an HTTP reply: 404 -> -1, any other status but 200 -> -2, 200 -> its length
// (UnknownLength without one).
std::int64_t HttpSizeOf(CURL* curl, bool resuming) {
  long status = 0;
  curl_off_t length = -1;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (status == 404) return -1;
  if (status != 200 && !(resuming && status == 206)) return -2;
  return length < 0 ? UnknownLength : length;
}

}  // namespace

std::string HttpSource::Url(const FTP& client, std::string_view remote) const {
  return client.HttpUrl(client.ToServer(remote));
}

void HttpSource::SetOptions(const FTP& client, CURL* curl) const {
  // A secure connection is never redirected to a plain one.
  const char* protocols = client.mOptions.Tls ? "https" : "http,https";
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
}

void HttpSource::SetDownload(FTP& client, const std::string& url, std::int64_t) const {
  CURL* curl = client.mCurl.get();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  // Past every cache: the manifest must be the one on the server now.
  if (client.mHttpHeaders.Get() == nullptr) {
    client.mHttpHeaders.Append("Cache-Control: no-cache");
    client.mHttpHeaders.Append("Pragma: no-cache");
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, client.mHttpHeaders.Get());
}

bool HttpSource::CheckBeforeFirstByte(FileDownload& download) const {
  download.HttpSize = HttpSizeOf(download.Curl, download.Resuming);
  if (download.HttpSize == UnknownLength) return true;  // counted without a total
  if (download.HttpSize <= 0) {
    download.Refused = true;
    return false;
  }
  download.Sink.SetTotal(download.HttpSize);
  return true;
}

bool HttpSource::Request(FTP& client, FileDownload& download, bool& rangeIgnored) {
  ChunkedDownload& sink = download.Sink;
  const CURLcode result = client.RunDownload(download);
  if (sink.Failure()) std::rethrow_exception(sink.Failure());
  if (client.RefusedOverLimit(download)) return false;
  if (result == CURLE_RANGE_ERROR && download.Resuming) {
    rangeIgnored = true;
    return false;
  }
  if (result == CURLE_OK && !client.mRequest.HeadersEnded) {
    client.Record("HttpSendRequest", inet::ConnectionAborted);
    return false;
  }
  // A status line that is no HTTP status line: the server's answer cannot be understood.
  if (result == CURLE_UNSUPPORTED_PROTOCOL) {
    client.Record("HttpSendRequest", inet::InvalidServerResponse);
    return false;
  }
  long status = 0;
  curl_easy_getinfo(download.Curl, CURLINFO_RESPONSE_CODE, &status);
  client.mLastStatus = status;
  if (!download.Checked && status != 0) {
    // No byte came: the status decides alone, and a whole reply without a byte is empty.
    download.HttpSize = HttpSizeOf(download.Curl, download.Resuming);
    if (download.HttpSize == UnknownLength && result == CURLE_OK) download.HttpSize = 0;
    download.Refused = download.HttpSize != UnknownLength && download.HttpSize <= 0;
    if (download.HttpSize > 0) sink.SetTotal(download.HttpSize);
  }
  client.mHttpSize = download.HttpSize == UnknownLength ? -2 : download.HttpSize;
  if (download.Refused) {
    // 404 and an empty file say nothing; any other status says what it is.
    if (download.HttpSize == -2 && !client.RecordProxyRefusal())
      client.Record("HttpSendRequest", inet::ExtendedError);
    return false;
  }
  if (result != CURLE_OK && status == 0) {
    client.RecordCurl("HttpSendRequest", result);
    return false;
  }
  if (sink.Overflowed() || client.mRequest.ExcessData) {
    client.Record(ReadLabel(sink.Total(), sink.Total()), inet::InvalidServerResponse);
    return false;
  }
  if (result != CURLE_OK) {
    client.RecordCurl(ReadLabel(sink.Received(), sink.Total()), result);
    return false;
  }
  return true;
}

bool HttpSource::Transfer(FTP& client, FileDownload& download) const {
  ChunkedDownload& sink = download.Sink;
  if (download.Resuming)
    curl_easy_setopt(download.Curl, CURLOPT_RESUME_FROM_LARGE,
                     static_cast<curl_off_t>(sink.Offset()));
  client.mHttpSize = -2;
  bool rangeIgnored = false;
  // A failed reply may leave bytes behind on its connection, which the next request would
  // take for the start of its own reply: it gets a new connection.
  bool ok = Request(client, download, rangeIgnored);
  if (!ok && rangeIgnored) {
    // The server does not resume: the whole file from its start, once more.
    sink.Restart();
    download.Resuming = false;
    download.Checked = false;
    client.ResetRequest();
    ok = Request(client, download, rangeIgnored);
  }
  if (!ok || client.ArrivedShort(sink)) {
    client.DropConnection();
    return false;
  }
  if (download.HttpSize == UnknownLength) client.mHttpSize = sink.Received();
  return true;
}

}  // namespace tandor
