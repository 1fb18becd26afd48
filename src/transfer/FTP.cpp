// The connection, the settings and the running of requests of FTP. What the server says and
// the failure texts are in FtpReplies.cpp; downloads in FtpDownload.cpp (with what differs by
// protocol in FtpSource.cpp and HttpSource.cpp), uploads in FtpUpload.cpp, remote file
// management and listings in FtpRemote.cpp.
#include "transfer/FTP.h"
#include "text/TextCase.h"

#include <sys/select.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>

#include "platform/Error.h"
#include "settings/PortNumber.h"
#include "transfer/DownloadSource.h"
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
    return ftp->mRequest.AnnouncedTooLarge ? 0 : size * count;
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

}  // namespace

FTP::FTP(FtpEvents events, FtpOptions options)
    : mEvents(std::move(events)),
      mOptions(std::move(options)),
      mSource(&DownloadSource::For(ServiceFtp)) {}

FTP::~FTP() {
  CancelAhead();
}

void FTP::Service(int expression) {
  mSource = &DownloadSource::For(expression);
}

bool FTP::IsFtp() const {
  return mSource->IsFtp();
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
  mBaseUrl = mSource->Scheme(mOptions.Tls) + host + ":" + std::to_string(port);
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
  if (mMulti && mCurl && IsFtp()) {
    // The kept connections are closed by a handle of libcurl's own, which takes its timeouts
    // from the handle added last: a QUIT that a server never answers (pyftpdlib's shared loop
    // loses sessions) must not hold every connection's end for a minute.
    curl_easy_setopt(mCurl.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, 1L);
    curl_easy_setopt(mCurl.get(), CURLOPT_TIMEOUT_MS, 1000L);
    if (curl_multi_add_handle(mMulti.get(), mCurl.get()) == CURLM_OK)
      curl_multi_remove_handle(mMulti.get(), mCurl.get());
  }
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
  mSource->SetOptions(*this, curl);
}

void FTP::BeginRequest() {
  mRequest = RequestState{};
  mProxyRefused = false;
  mRequest.Pace.emplace_back(std::chrono::steady_clock::now(), 0);
  mRequest.LastMove = mRequest.Pace.back().first;
}

CURLcode FTP::Perform(bool started) {
  if (!started) BeginRequest();
  const CURLcode result = RunRequest(started);
  return result == CURLE_ABORTED_BY_CALLBACK && mRequest.TooSlow ? CURLE_OPERATION_TIMEDOUT
                                                                 : result;
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
      mRequest.ExcessData = true;
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
  RequestState& request = mRequest;
  const auto now = steady_clock::now() - request.Throttled;
  const auto window = duration_cast<steady_clock::duration>(mOptions.IdleTimeout);
  if (bytes != request.Moved) {
    request.Moved = bytes;
    if (mEvents.BytesArrived) mEvents.BytesArrived(bytes);
    request.LastMove = now;
  }
  const auto margin = std::min<steady_clock::duration>(seconds(1), window / 10);
  bool slow = now - request.LastMove >= window - margin;
  if (now - request.Pace.back().first >= milliseconds(100)) request.Pace.emplace_back(now, bytes);
  while (request.Pace.size() > 1 && now - request.Pace[1].first >= window) request.Pace.pop_front();
  const auto [since, then] = request.Pace.front();
  if (now - since >= window) {
    const double elapsed = duration<double>(now - since).count();
    slow = slow || static_cast<double>(bytes - then) <
                       static_cast<double>(mOptions.LowSpeedLimit) * elapsed;
  }
  request.TooSlow = slow;
  return !slow;
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
