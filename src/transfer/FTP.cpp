// The connection, the settings and the failure texts of FTP; transfers are in FtpTransfer.cpp,
// remote file management and listings in FtpRemote.cpp.
#include "transfer/FTP.h"
#include "text/TextCase.h"

#include <sys/select.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>

#include "platform/Error.h"
#include "settings/PortNumber.h"
#include "transfer/InternetError.h"

namespace tandor {

// libcurl's C callbacks reach the object's private state through this friend.
struct FtpCallbacks {
  static size_t Header(char* buffer, size_t size, size_t count, void* user) {
    auto* ftp = static_cast<FTP*>(user);
    const std::string_view line(buffer, size * count);
    if (ftp->IsFtp()) {
      ftp->TakeReplyLine(line);
    } else {
      ftp->TakeHttpHeaderLine(line);
    }
    // A file announced larger than its limit is refused before any of it arrives.
    return ftp->mAnnouncedTooLarge ? 0 : size * count;
  }
  static int Progress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    return static_cast<FTP*>(user)->KeepsPace(received + sent) ? 0 : 1;
  }
  static size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }
  static int Debug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    static_cast<FTP*>(user)->TakeDebugText(type, std::string_view(data, size));
    return 0;
  }
};

namespace {

constexpr long ReceiveBufferSize = 256 * 1024;

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

FTP::FTP(FtpEvents events, FtpOptions options)
    : mEvents(std::move(events)), mOptions(std::move(options)) {}

FTP::~FTP() {
  CancelAhead();
}

std::shared_ptr<DirList> FTP::Directory() {
  if (!mDirList) mDirList = std::make_shared<DirList>();
  return mDirList;
}

bool FTP::OpenConnection(std::string_view sServer, std::string_view sUser,
                         std::string_view sPassword, std::string_view sPort) {
  CloseConnection();
  return OpenConnection(sServer, sUser, sPassword, ParsePort(sPort));
}

bool FTP::OpenConnection(std::string_view sServer, std::string_view sUser,
                         std::string_view sPassword, int port) {
  CloseConnection();
  mCurl.reset(curl_easy_init());
  mMulti.reset(curl_multi_init());
  if (!mCurl || !mMulti) {
    Record("InternetOpen", inet::NotEnoughMemory);
    Record("InternetConnect", inet::InvalidHandle);
    return false;
  }
  std::string host = ToServer(Trim(sServer));
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  mBaseUrl = (IsFtp()        ? "ftp://"
              : mOptions.Tls ? "https://"
                             : "http://") +
             host + ":" + std::to_string(port);
  mUser = ToServer(sUser);
  mPassword = ToServer(sPassword);
  mMachineListing.reset();
  mPassiveConnection = (mConnectFlags & FlagPassive) != 0;

  if (!IsFtp()) {
    mConnected = true;
    return true;
  }
  ResetRequest();
  curl_easy_setopt(mCurl.get(), CURLOPT_URL, (mBaseUrl + "/").c_str());
  curl_easy_setopt(mCurl.get(), CURLOPT_NOBODY, 1L);
  CURLcode result = Perform();
  if (result != CURLE_OK) {
    RecordCurl("InternetConnect", result);
    mMulti.reset();
    mCurl.reset();
    return false;
  }
  mConnected = true;
  return true;
}

void FTP::CloseConnection() {
  CancelAhead();
  mMulti.reset();  // closes the kept connections: QUIT on an open FTP control connection
  mCurl.reset();
  mConnected = false;
}

bool FTP::RequireConnection(std::string_view label) {
  if (mConnected && mCurl) return true;
  Record(label, inet::InvalidHandle);
  return false;
}

void FTP::ResetRequest() {
  CancelAhead();
  CURL* curl = mCurl.get();
  // Options go back to their defaults; the open connection stays in the handle's cache.
  curl_easy_reset(curl);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Tandor");
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT,
                   static_cast<long>(mOptions.ConnectTimeout.count()));
  // Slow and silent requests are ended by KeepsPace, which libcurl asks at least once a second.
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &FtpCallbacks::Progress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
  // The default 16 KiB buffer halves loopback throughput; chunk events are cut from it anyway.
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
  curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, ReceiveBufferSize);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &FtpCallbacks::Discard);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &FtpCallbacks::Header);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
  // The debug stream tells which command failed and whether a server sent too much.
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, &FtpCallbacks::Debug);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, this);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
  mCurlError[0] = '\0';
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, mCurlError);
  if (mOptions.Tls) {
    // Verification is never switched off: a certificate that fails is a connection that fails.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!mOptions.CaFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, mOptions.CaFile.c_str());
    if (IsFtp()) curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
  }
  if (!mUser.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, mUser.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, mPassword.c_str());
  }
  // Without a proxy of our own, libcurl takes the environment's (http_proxy, no_proxy...).
  // Whichever it is, it may ask for any way of logging in; the credentials are in its URL.
  if (!mOptions.Proxy.empty()) curl_easy_setopt(curl, CURLOPT_PROXY, mOptions.Proxy.c_str());
  curl_easy_setopt(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_ANY));
  // The proxy's answer to CONNECT is no reply of the server's; the debug stream still shows it.
  curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (IsFtp()) {
    // Through a tunnel, commands and data connections alike: a proxy's own FTP gateway would
    // know nothing of SIZE, REST or the current folder.
    curl_easy_setopt(curl, CURLOPT_HTTPPROXYTUNNEL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
    // Names go to the server as given, relative to its current folder, which
    // SetFTPDirectory changes and libcurl must not.
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    if (!mPassiveConnection) curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     static_cast<long>(mOptions.IdleTimeout.count()));
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS,
                     static_cast<long>(mOptions.IdleTimeout.count() * 1000));
    curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, mTransferType == TransferTypeAscii ? 1L : 0L);
  } else {
    // A secure connection is never redirected to a plain one.
    const char* protocols = mOptions.Tls ? "https" : "http,https";
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
  }
}

std::string FTP::DownloadUrl(std::string_view remote, bool http) const {
  return http ? HttpUrl(ToServer(remote)) : FtpUrl(ToServer(remote), false);
}

void FTP::SetDownload(const std::string& url, bool http, std::int64_t offset) {
  CURL* curl = mCurl.get();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (!http) {
    SetFtpSizeQuery(url, offset);
    return;
  }
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  // Past every cache: the manifest must be the one on the server now.
  if (mHttpHeaders.Get() == nullptr) {
    mHttpHeaders.Append("Cache-Control: no-cache");
    mHttpHeaders.Append("Pragma: no-cache");
  }
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, mHttpHeaders.Get());
}

// libcurl reads an FTP download no further than the size SIZE announced, so a server that
// announces less than it sends has its file cut there and taken for whole. Here the end of the
// data connection is the end of the file: libcurl asks no size, and SIZE goes out ahead of RETR
// as a command of our own, its answer checked against what arrives. A resumed download says
// where to start the same way, since libcurl sends REST only after its own SIZE. Text mode asks
// its size separately, as servers do not count the changed line ends.
void FTP::SetFtpSizeQuery(const std::string& url, std::int64_t offset) {
  if (mTransferType == TransferTypeAscii) return;
  const std::string path = FtpCommandPath(url);
  if (path.empty()) return;  // libcurl refuses such a name itself
  CURL* curl = mCurl.get();
  curl_easy_setopt(curl, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  mFtpPrequote = CurlList();
  mFtpPrequote.Append("SIZE " + path);
  if (offset > 0) mFtpPrequote.Append("REST " + std::to_string(offset));
  curl_easy_setopt(curl, CURLOPT_PREQUOTE, mFtpPrequote.Get());
}

void FTP::StartAhead(const std::string& url, bool http) {
  ResetRequest();
  SetDownload(url, http, 0);
  curl_easy_setopt(mCurl.get(), CURLOPT_WRITEFUNCTION, &FTP::WriteAhead);
  curl_easy_setopt(mCurl.get(), CURLOPT_WRITEDATA, this);
  BeginRequest();
  if (curl_multi_add_handle(mMulti.get(), mCurl.get()) != CURLM_OK) return;
  mAheadUrl = url;
  mAheadTarget = nullptr;
  AdvanceAhead();
}

void FTP::AdvanceAhead() {
  if (mAheadUrl.empty()) return;
  int running = 0;
  curl_multi_perform(mMulti.get(), &running);
}

void FTP::CancelAhead() {
  if (mAheadUrl.empty()) return;
  mAheadUrl.clear();
  mAheadTarget = nullptr;
  curl_multi_remove_handle(mMulti.get(), mCurl.get());
  // A control connection in the middle of a command sequence cannot carry the next request:
  // it goes, with the handles (the next request logs in again).
  if (IsFtp()) {
    mMulti.reset(curl_multi_init());
    mCurl.reset(curl_easy_init());
  }
}

void FTP::BeginRequest() {
  mLastCommand.clear();
  mDataStarted = false;
  mRefusal.clear();
  mAnnouncedSize = -1;
  mExcessData = false;
  mStatusLine.clear();
  mHeadersEnded = false;
  mStatusLineIn.clear();
  mProxyRefused = false;
  mAnnouncedTooLarge = false;
  mThrottled = {};
  mPace.clear();
  mPace.emplace_back(std::chrono::steady_clock::now(), 0);
  mMoved = 0;
  mLastMove = mPace.back().first;
  mTooSlow = false;
}

CURLcode FTP::Perform(bool started) {
  if (!started) BeginRequest();
  const CURLcode result = RunRequest(started);
  return result == CURLE_ABORTED_BY_CALLBACK && mTooSlow ? CURLE_OPERATION_TIMEDOUT : result;
}

namespace {

bool WaitsOnSocket(CURLM* multi) {
  fd_set read, write, except;
  FD_ZERO(&read);
  FD_ZERO(&write);
  FD_ZERO(&except);
  int highest = -1;
  return curl_multi_fdset(multi, &read, &write, &except, &highest) != CURLM_OK || highest >= 0;
}

}  // namespace

// Runs the request in slices of at most kWaitSlice, so that the window gets its turn also while
// the server sends nothing (libcurl's own loop would wait up to a second at a time).
CURLcode FTP::RunRequest(bool started) {
  constexpr int kWaitSliceMs = 25;
  CURL* easy = mCurl.get();
  CURLM* multi = mMulti.get();
  if (!started && (multi == nullptr || curl_multi_add_handle(multi, easy) != CURLM_OK))
    return curl_easy_perform(easy);
  // The request leaves the multi handle however it ends, a throwing event handler included.
  struct Detach {
    CURLM* Multi;
    CURL* Easy;
    ~Detach() { curl_multi_remove_handle(Multi, Easy); }
  } detach{multi, easy};
  CURLcode result = CURLE_OK;
  bool ranAgain = false;
  for (int running = 1; running > 0;) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
    if (running == 0) break;
    // When a passive data connection's address arrives together with the reply before it,
    // libcurl can end a step with the connection not yet begun and nothing to wait for; it
    // would sit out the whole slice (its own loop: a second). Such a step runs again at once,
    // though only once in a row, so that a real wait for a timer never spins.
    if (!ranAgain && !WaitsOnSocket(multi)) {
      ranAgain = true;
      continue;
    }
    ranAgain = false;
    if (curl_multi_poll(multi, nullptr, 0, kWaitSliceMs, nullptr) != CURLM_OK)
      return CURLE_OUT_OF_MEMORY;
    if (mEvents.WaitingForData) mEvents.WaitingForData();
  }
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &left))
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy) result = message->data.result;
  // libcurl reads an HTTP reply no further than its announced length; bytes a server sent beyond
  // it are still waiting on the kept connection (which only the attached handle can name).
  if (!IsFtp() && result == CURLE_OK) {
    curl_socket_t socket = CURL_SOCKET_BAD;
    char byte = 0;
    if (curl_easy_getinfo(easy, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK &&
        socket != CURL_SOCKET_BAD && ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0)
      mExcessData = true;
  }
  return result;
}

// libcurl's own low-speed check averages over a few seconds before its time starts, so a
// silent server held a request several seconds past the limit. This one takes the bytes moved
// since a moment at least IdleTimeout ago; and since libcurl asks only about once a second, a
// silence ends up to a second early rather than late. The time waited for DownloadRate does
// not count: the request's clock stands still meanwhile.
bool FTP::KeepsPace(std::int64_t bytes) {
  using namespace std::chrono;
  const auto now = steady_clock::now() - mThrottled;
  const auto window = duration_cast<steady_clock::duration>(mOptions.IdleTimeout);
  if (bytes != mMoved) {
    mMoved = bytes;
    if (mEvents.BytesArrived) mEvents.BytesArrived(bytes);
    mLastMove = now;
  }
  const auto margin = std::min<steady_clock::duration>(seconds(1), window / 10);
  bool slow = now - mLastMove >= window - margin;
  if (now - mPace.back().first >= milliseconds(100)) mPace.emplace_back(now, bytes);
  while (mPace.size() > 1 && now - mPace[1].first >= window) mPace.pop_front();
  const auto [since, then] = mPace.front();
  if (now - since >= window) {
    const double elapsed = duration<double>(now - since).count();
    slow = slow || static_cast<double>(bytes - then) <
                       static_cast<double>(mOptions.LowSpeedLimit) * elapsed;
  }
  mTooSlow = slow;
  return !slow;
}

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
  if (mLastReplyCode >= 100 && mLastReplyCode < 200) mDataStarted = true;
  if (mLastReplyCode >= 400) mRefusal = mLastReply;
  if (mLastReplyCode == 213 && mLastCommand == "SIZE") {
    mAnnouncedSize = SizeInReply(line);
    TakeAnnouncedSize(mAnnouncedSize);
  }
}

void FTP::TakeHttpHeaderLine(std::string_view line) {
  // A reply's headers end with a blank line; a connection lost before it is no reply at all.
  if (line == "\r\n" || line == "\n") {
    mHeadersEnded = true;
    curl_off_t length = -1;
    if (mRequestLimit >= 0 && (mStatusLine.starts_with("200") || mStatusLine.starts_with("206")) &&
        curl_easy_getinfo(mCurl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
      TakeAnnouncedSize(length);
  }
  // "HTTP/1.1 500 Internal Server Error": every reply of a redirect chain starts with one.
  if (!line.starts_with("HTTP/")) return;
  mHeadersEnded = false;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  const std::size_t space = line.find(' ');
  mStatusLine.assign(space == std::string_view::npos ? "" : line.substr(space + 1));
}

void FTP::TakeAnnouncedSize(std::int64_t size) {
  if (mRequestLimit >= 0 && size > mRequestLimit) mAnnouncedTooLarge = true;
}

void FTP::TakeDebugText(int type, std::string_view text) {
  // A tunnel's request to the proxy is no FTP command.
  if (type == CURLINFO_HEADER_OUT && IsFtp() && !text.starts_with("CONNECT ")) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    mLastCommand.assign(text.substr(0, text.find(' ')));
  } else if (type == CURLINFO_HEADER_IN && text.starts_with("HTTP/")) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    const std::size_t space = text.find(' ');
    mStatusLineIn.assign(space == std::string_view::npos ? "" : text.substr(space + 1));
  } else if (type == CURLINFO_TEXT && text.find("Excess found") != std::string_view::npos) {
    mExcessData = true;
  }
}

void FTP::Record(std::string_view label, int code) {
  mProxyRefused = false;
  mLastErrorCode = code;
  if (code == inet::ExtendedError) {
    mLastError = FromServer(IsFtp() ? mLastReply : mStatusLine);
    return;
  }
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
  mLastError = FromServer(mStatusLineIn.empty() ? std::to_string(tunnel >= 300 ? tunnel : status)
                                                : mStatusLineIn);
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
  if (!mRefusal.empty() &&
      (result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR || result == CURLE_GOT_NOTHING)) {
    std::string said = FromServer(mRefusal);
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

// A reply that broke its own framing may leave bytes behind on a kept-alive connection; the
// next request must not read them as its reply.
void FTP::DropConnection() {
  CancelAhead();
  mMulti.reset(curl_multi_init());
  mCurl.reset(curl_easy_init());
}

std::string FTP::ToServer(std::string_view text) const {
  return mOptions.ServerCodePage.IsUtf8() ? std::string(text)
                                          : mOptions.ServerCodePage.FromUtf8(text);
}

std::string FTP::FromServer(std::string_view text) const {
  return mOptions.ServerCodePage.IsUtf8() ? std::string(text)
                                          : mOptions.ServerCodePage.ToUtf8(text);
}

namespace {

bool IsUnreserved(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

std::string PercentEncode(std::string_view text, bool (*keep)(unsigned char)) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (keep(c)) {
      encoded += ch;
    } else {
      encoded += '%';
      encoded += Hex[c >> 4];
      encoded += Hex[c & 0xF];
    }
  }
  return encoded;
}

}  // namespace

std::string FTP::FtpUrl(std::string_view remotePath, bool folder) const {
  std::string url = mBaseUrl + "/";
  if (!remotePath.empty() && remotePath.front() == '/') {
    url += "%2F";  // an absolute path, not one below the login folder
    remotePath.remove_prefix(1);
  }
  url += PercentEncode(remotePath, [](unsigned char c) { return IsUnreserved(c) || c == '/'; });
  if (folder && url.back() != '/') url += '/';
  return url;
}

std::string FTP::HttpUrl(std::string_view objectPath) const {
  std::string url = mBaseUrl;
  if (objectPath.empty() || objectPath.front() != '/') url += '/';
  // The object path is sent as the caller wrote it; only what cannot stand in a request line
  // is encoded.
  url += PercentEncode(objectPath, [](unsigned char c) {
    return c > 0x20 && c < 0x7F &&
           std::string_view("\"<>\\^`{|}").find(static_cast<char>(c)) == std::string_view::npos;
  });
  return url;
}

}  // namespace tandor
