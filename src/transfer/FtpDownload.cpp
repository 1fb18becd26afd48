// The download path of FTP, shared by its sources: the calls, the file a download writes, the
// request sent ahead for the file that follows, and what all downloads record alike. What
// differs between FTP and HTTP is in FtpSource.cpp and HttpSource.cpp.
#include <algorithm>
#include <utility>

#include "platform/Error.h"
#include "text/TextCase.h"
#include "transfer/FTP.h"
#include "transfer/FileDownload.h"
#include "transfer/InternetError.h"

namespace tandor {

namespace {

std::filesystem::path TrimSpaces(const std::filesystem::path& path) {
  return std::filesystem::path(std::string(Trim(path.native(), " ")));
}

size_t WriteDownload(char* data, size_t size, size_t count, void* user) {
  auto& download = *static_cast<FileDownload*>(user);
  if (!download.Checked) {
    download.Checked = true;
    if (!download.Simple() && !download.Source.CheckBeforeFirstByte(download)) return 0;
  }
  return download.Sink.Take(data, size * count) ? size * count : 0;
}

}  // namespace

std::string_view ReadLabel(std::int64_t received, std::int64_t total) {
  const std::int64_t partial = total > 0 ? total % TransferChunkSize : 0;
  return (received < total - partial || partial == 0) ? "InternetReadFile" : "InternetReadFile2";
}

const DownloadSource& DownloadSource::For(int service) {
  static const FtpSource ftp;
  static const HttpSource http;
  if (service == FTP::ServiceHttp) return http;
  return ftp;
}

bool FTP::FTPDownloadFile(const std::filesystem::path& sLocal, std::string_view sRemote) {
  bool overLimit = false;
  return Fetch({.Target = sLocal, .Remote = std::string(sRemote)}, DownloadSource::For(ServiceFtp),
               overLimit);
}

bool FTP::HTTPDownloadFile(const std::filesystem::path& sLocal, std::string_view sRemote) {
  bool overLimit = false;
  return Fetch({.Target = sLocal, .Remote = std::string(sRemote)}, DownloadSource::For(ServiceHttp),
               overLimit);
}

bool FTP::SimpleFTPGetFile(const std::filesystem::path& sLocal, std::string_view sRemote) {
  if (!RequireConnection("SimpleFtpGetFile")) return false;
  bool overLimit = false;
  return Download({.Target = sLocal, .Remote = std::string(sRemote)},
                  DownloadSource::For(ServiceFtp), "SimpleFtpGetFile", overLimit);
}

TransferResult FTP::Download(const DownloadRequest& request) {
  const std::uint64_t before = mErrorsRecorded;
  mLastStatus = 0;
  bool overLimit = false;
  if (Fetch(request, *mSource, overLimit)) return {};
  TransferResult result{TransferResult::State::Failed, mLastErrorCode, mLastError};
  if (mProxyRefused) {
    // A proxy that refuses again says the same again.
    result.Code = 0;
    result.ProxyRefused = true;
  } else if (mErrorsRecorded == before) {
    // A missing or empty remote file fails without a text of its own; an old text would name
    // the wrong failure (the same text again, a 503 among them, is a failure of its own).
    result.Code = 0;
    result.Text = "The server has no file " + request.Remote + " (or it is empty)";
  }
  if (overLimit) result.Status = TransferResult::State::OverLimit;
  result.Busy = IsFtp() ? mLastReply.starts_with("421") : mLastStatus == 503 || mLastStatus == 429;
  return result;
}

bool FTP::Fetch(const DownloadRequest& asked, const DownloadSource& source, bool& overLimit) {
  DownloadRequest request = asked;
  request.Target = TrimSpaces(asked.Target);
  request.Remote = Trim(asked.Remote, " ");
  if (request.Target.empty() || request.Remote.empty()) return false;
  if (!RequireConnection(source.ConnectionLabel())) return false;
  return Download(request, source, {}, overLimit);
}

// One request per download: for FTP, SIZE and then RETR on the open connection (see
// FtpSource::SetSizeQuery), the same commands as a separate size query would cost, without its
// extra round trip. A `simpleLabel` makes it the one-call transfer: no events, every failure
// under that label.
bool FTP::Download(const DownloadRequest& request, const DownloadSource& source,
                   std::string_view simpleLabel, bool& overLimit) {
  static const FtpEvents NoEvents;
  const bool simple = !simpleLabel.empty();
  AdvanceAhead();
  FileDownload download(request, source, simpleLabel, simple ? NoEvents : mEvents, overLimit);
  ChunkedDownload& sink = download.Sink;
  sink.SetFreeSpaceSource(&mOptions.FreeSpace);
  if (request.Sha256 && !simple) {
    sink.ExpectSha256(*request.Sha256);
    std::filesystem::path partial = request.Partial;
    if (partial.empty()) (partial = request.Target) += ".partial";
    sink.ResumeFrom(partial);
  }
  sink.SetLimit(request.Limit);
  if (mOptions.DownloadRate) {
    sink.SetPacer([this](std::size_t bytes) {
      mRequest.Throttled +=
          mOptions.DownloadRate->Await(static_cast<std::int64_t>(bytes), mEvents.WaitingForData);
    });
  }
  if (!source.Prepare(*this, download)) return false;
  download.Url = source.Url(*this, request.Remote);
  // The request sent ahead for this file carries on where it stands.
  download.Ahead = !simple && sink.Offset() == 0 && !mAheadUrl.empty() && mAheadUrl == download.Url;
  if (!download.Ahead) ResetRequest();
  download.Curl = mCurl.get();
  download.FtpSize = &mRequest.AnnouncedSize;
  download.Resuming = sink.Offset() > 0;
  // The limit holds for this download's own requests, not for the one sent ahead after them.
  struct Running {
    FileDownload*& Current;
    ~Running() { Current = nullptr; }
  } running{mDownload};
  if (sink.Limit() >= 0) download.RequestLimit = sink.Limit() - sink.Offset();
  mDownload = &download;
  if (!source.Transfer(*this, download)) return false;
  if (simple) {
    try {
      sink.Finish();
    } catch (const RuntimeError& error) {
      Record(simpleLabel, error.Number() == err::FileNotFound   ? 2
                          : error.Number() == err::PathNotFound ? 3
                                                                : 5);
      return false;
    }
    return true;
  }
  mDownload = nullptr;
  if (!request.Following.empty()) StartAhead(source.Url(*this, request.Following), source);
  sink.Finish();
  AdvanceAhead();
  return true;
}

CURLcode FTP::RunDownload(FileDownload& download) {
  CURLcode result = CURLE_OK;
  if (download.Ahead) {
    download.Ahead = false;
    mAheadUrl.clear();
    mAheadTarget = &download;
    curl_easy_pause(download.Curl, CURLPAUSE_CONT);  // hands over what arrived meanwhile
    result = Perform(true);
  } else {
    download.Source.SetDownload(*this, download.Url, download.Sink.Offset());
    curl_easy_setopt(download.Curl, CURLOPT_WRITEFUNCTION, &WriteDownload);
    curl_easy_setopt(download.Curl, CURLOPT_WRITEDATA, &download);
    result = Perform();
  }
  mAheadTarget = nullptr;
  return result;
}

bool FTP::RefusedOverLimit(FileDownload& download) {
  if (!mRequest.AnnouncedTooLarge && !download.Sink.OverLimit()) return false;
  download.OverLimit = true;
  mLastErrorCode = inet::FileTooLarge;
  ++mErrorsRecorded;
  mLastError = FormatInternetError(
      "InternetReadFile", inet::FileTooLarge,
      "The file is larger than the limit of " + std::to_string(download.Sink.Limit()) + " bytes.");
  return true;
}

bool FTP::ArrivedShort(const ChunkedDownload& sink) {
  // Fewer bytes than announced is a broken transfer, however politely the server ended it.
  if (!sink.ExactSize() || sink.Total() <= 0 || sink.Received() >= sink.Total()) return false;
  Record(ReadLabel(sink.Received(), sink.Total()), inet::ConnectionAborted);
  return true;
}

std::int64_t FTP::RequestLimit() const {
  return mDownload != nullptr ? mDownload->RequestLimit : -1;
}

void FTP::StartAhead(const std::string& url, const DownloadSource& source) {
  ResetRequest();
  source.SetDownload(*this, url, 0);
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

size_t FTP::WriteAhead(char* data, size_t size, size_t count, void* user) {
  void* target = static_cast<FTP*>(user)->mAheadTarget;
  // Until its download is asked for, the reply waits in libcurl's hands.
  if (target == nullptr) return CURL_WRITEFUNC_PAUSE;
  return WriteDownload(data, size, count, target);
}

}  // namespace tandor
