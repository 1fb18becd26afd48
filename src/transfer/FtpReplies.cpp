// What the server says, FTP's replies and HTTP's status lines, and the texts failures are
// recorded with.
#include <algorithm>
#include <cctype>

#include "text/TextCase.h"
#include "transfer/FTP.h"
#include "transfer/InternetError.h"

namespace tandor {

namespace {

// The size in a SIZE reply ("213 84000"); -1 when it holds none.
std::int64_t SizeInReply(std::string_view line) {
  std::string_view digits = Trim(line.substr(std::min<std::size_t>(line.size(), 4)));
  if (digits.empty() || digits.size() > 18) return -1;
  std::int64_t size = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return -1;
    size = size * 10 + (c - '0');
  }
  return size;
}

}  // namespace

void FTP::TakeReplyLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (mReplyComplete) {
    // Between replies only a reply's first line may come; libcurl also hands over header
    // lines of its own making ("Content-Length: 5" for a size query), which are no reply.
    if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0]))) return;
    mReply.clear();
    mReplyComplete = false;
  }
  mReply.emplace_back(line);
  const bool hasCode = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                       std::isdigit(static_cast<unsigned char>(line[1])) &&
                       std::isdigit(static_cast<unsigned char>(line[2]));
  if (!hasCode || (line.size() > 3 && line[3] != ' ')) return;  // more lines follow
  mReplyComplete = true;
  mLastReplyCode = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  mLastReply.clear();
  for (const std::string& part : mReply) {
    if (!mLastReply.empty()) mLastReply += "\r\n";
    mLastReply += part;
  }
  if (mLastReplyCode >= 100 && mLastReplyCode < 200) mRequest.DataStarted = true;
  if (mLastReplyCode >= 400) mRequest.Refusal = mLastReply;
  if (mLastReplyCode == 213 && mRequest.LastCommand == "SIZE") {
    mRequest.AnnouncedSize = SizeInReply(line);
    TakeAnnouncedSize(mRequest.AnnouncedSize);
  }
}

void FTP::TakeHttpHeaderLine(std::string_view line) {
  // A reply's headers end with a blank line; a connection lost before it is no reply at all.
  if (line == "\r\n" || line == "\n") {
    mRequest.HeadersEnded = true;
    curl_off_t length = -1;
    if (RequestLimit() >= 0 &&
        (mRequest.StatusLine.starts_with("200") || mRequest.StatusLine.starts_with("206")) &&
        curl_easy_getinfo(mCurl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
      TakeAnnouncedSize(length);
  }
  // "HTTP/1.1 500 Internal Server Error": every reply of a redirect chain starts with one.
  if (!line.starts_with("HTTP/")) return;
  mRequest.HeadersEnded = false;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  const std::size_t space = line.find(' ');
  mRequest.StatusLine.assign(space == std::string_view::npos ? "" : line.substr(space + 1));
}

void FTP::TakeAnnouncedSize(std::int64_t size) {
  if (const std::int64_t limit = RequestLimit(); limit >= 0 && size > limit)
    mRequest.AnnouncedTooLarge = true;
}

void FTP::TakeDebugText(int type, std::string_view text) {
  // A tunnel's request to the proxy is no FTP command.
  if (type == CURLINFO_HEADER_OUT && IsFtp() && !text.starts_with("CONNECT ")) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    mRequest.LastCommand.assign(text.substr(0, text.find(' ')));
  } else if (type == CURLINFO_HEADER_IN && text.starts_with("HTTP/")) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    const std::size_t space = text.find(' ');
    mRequest.StatusLineIn.assign(space == std::string_view::npos ? "" : text.substr(space + 1));
  } else if (type == CURLINFO_TEXT && text.find("Excess found") != std::string_view::npos) {
    mRequest.ExcessData = true;
  }
}

void FTP::Record(std::string_view label, int code) {
  mProxyRefused = false;
  mLastErrorCode = code;
  if (code == inet::ExtendedError) {
    ++mErrorsRecorded;
    mLastError = FromServer(IsFtp() ? mLastReply : mRequest.StatusLine);
    return;
  }
  ++mErrorsRecorded;
  mLastError = FormatInternetError(label, code, InternetErrorText(code));
}

namespace {

bool IsTlsFailure(CURLcode result) {
  switch (result) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ISSUER_ERROR:
      return true;
    default:
      return false;
  }
}

}  // namespace

// A tunnel the proxy did not open (CONNECT answered with anything but success) or a request it
// answered with 407 (only a proxy asks for its own credentials): its status line says why.
bool FTP::RecordProxyRefusal() {
  if (!mCurl) return false;
  long tunnel = 0;
  long status = 0;
  curl_easy_getinfo(mCurl.get(), CURLINFO_HTTP_CONNECTCODE, &tunnel);
  if (!IsFtp()) curl_easy_getinfo(mCurl.get(), CURLINFO_RESPONSE_CODE, &status);
  if (tunnel < 300 && status != 407) return false;
  ++mErrorsRecorded;
  mLastError =
      FromServer(mRequest.StatusLineIn.empty() ? std::to_string(tunnel >= 300 ? tunnel : status)
                                               : mRequest.StatusLineIn);
  mLastErrorCode = 0;
  mProxyRefused = true;
  return true;
}

void FTP::RecordCurl(std::string_view label, CURLcode result) {
  if (RecordProxyRefusal()) return;
  long osErrno = 0;
  if (mCurl) curl_easy_getinfo(mCurl.get(), CURLINFO_OS_ERRNO, &osErrno);
  Record(label, InternetErrorFromCurl(result, osErrno));
  if (mOptions.Tls && mCurlError[0] != '\0' && IsTlsFailure(result)) {
    // Which certificate check failed: expired, another host's, an unknown issuer.
    mLastError += std::string(" (TLS: ") + mCurlError + ")";
    return;
  }
  if (!IsFtp()) return;
  // A server that refused a command and then broke the connection (libcurl tried another way
  // meanwhile) said why only in that reply, such as vsftpd's "500 OOPS" when its own sandbox
  // ends its session.
  if (!mRequest.Refusal.empty() &&
      (result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR || result == CURLE_GOT_NOTHING)) {
    std::string said = FromServer(mRequest.Refusal);
    std::replace(said.begin(), said.end(), '\r', ' ');
    std::replace(said.begin(), said.end(), '\n', ' ');
    mLastError += " (the server's last reply: " + said + ")";
  }
  if (mPassiveConnection) return;
  // Behind many firewalls and every NAT active mode cannot work: say what helps.
  const char* cause = nullptr;
  if (result == CURLE_FTP_PORT_FAILED) {
    cause = "the server refused active mode";
  } else if (result == CURLE_FTP_ACCEPT_FAILED) {
    cause = "the server's data connection did not arrive in active mode";
  }
  if (cause != nullptr) {
    mLastError += std::string(" (") + cause + "; Passive=1 in Tandor.ini selects passive mode)";
  }
}

}  // namespace tandor
