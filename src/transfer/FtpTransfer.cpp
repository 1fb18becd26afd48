// Whole-file transfers of FTP: chunked downloads and uploads with progress events, the size
// queries, and the one-call transfers.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/Error.h"
#include "platform/FileDescriptor.h"
#include "text/TextCase.h"
#include "transfer/ChunkedDownload.h"
#include "transfer/FTP.h"
#include "transfer/InternetError.h"

namespace tandor {

namespace {

std::filesystem::path TrimSpaces(const std::filesystem::path& path) {
  return std::filesystem::path(std::string(Trim(path.native(), " ")));
}

// The label of a read that failed after `received` of `total` bytes: the full chunks have
// theirs, the last partial chunk its own.
std::string_view ReadLabel(std::int64_t received, std::int64_t total) {
  const std::int64_t partial = total > 0 ? total % TransferChunkSize : 0;
  return (received < total - partial || partial == 0) ? "InternetReadFile" : "InternetReadFile2";
}

// The platform's numbers for local file failures of the one-call transfers.
int SystemErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return 2;
    case ENOTDIR:
      return 3;
    case EACCES:
    case EPERM:
    case EISDIR:
      return 5;
    default:
      return 29;  // write fault
  }
}

struct DownloadContext {
  CURL* Curl = nullptr;
  ChunkedDownload* Sink = nullptr;
  const std::int64_t* FtpSize = nullptr;  // what the FTP server answered to SIZE; -1: nothing
  bool Http = false;
  bool Simple = false;       // no size rule: the one-call transfer
  bool Resuming = false;     // asked for the rest of a part kept from an earlier attempt
  bool Checked = false;      // status and size looked at
  bool Refused = false;      // the size rule stopped the transfer; nothing to record
  bool UnknownSize = false;  // an FTP server that gave no size
  std::int64_t HttpSize = -2;
};

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

// Looks at status and size before the first byte is kept.
bool CheckBeforeFirstByte(DownloadContext& context) {
  context.Checked = true;
  if (context.Simple) return true;
  if (context.Http) {
    context.HttpSize = HttpSizeOf(context.Curl, context.Resuming);
    if (context.HttpSize == UnknownLength) return true;  // counted without a total
    if (context.HttpSize <= 0) {
      context.Refused = true;
      return false;
    }
    context.Sink->SetTotal(context.HttpSize);
    return true;
  }
  if (context.Sink->Total() >= 0) return true;  // known beforehand (text mode)
  if (*context.FtpSize < 0) {
    context.UnknownSize = true;
    return false;
  }
  // A server that says the file is shorter than the part kept of it leaves no byte to take.
  context.Sink->SetTotal(std::max<std::int64_t>(0, *context.FtpSize - context.Sink->Offset()));
  return true;
}

size_t WriteDownload(char* data, size_t size, size_t count, void* user) {
  auto& context = *static_cast<DownloadContext*>(user);
  if (!context.Checked && !CheckBeforeFirstByte(context)) return 0;
  return context.Sink->Take(data, size * count) ? size * count : 0;
}

struct UploadContext {
  int Fd = -1;
  const FtpEvents* Events = nullptr;  // none for the one-call transfer
  std::int64_t Total = 0;
  std::int64_t Provided = 0;
  std::int64_t Count = 0;
  bool PendingFull = false;  // a full chunk handed over whose event is still due
  bool LastWasFull = false;
  std::exception_ptr Failure;
};

// The event of a full chunk is raised when the library asks for the next one: by then the chunk
// has gone out.
void ReportSentChunk(UploadContext& context) {
  if (!context.PendingFull) return;
  context.PendingFull = false;
  context.Count += TransferChunkSize;
  if (context.Events == nullptr) return;
  if (context.Events->ProcessPendingMessages) context.Events->ProcessPendingMessages();
  if (context.Events->FileTransferProgress) {
    context.Events->FileTransferProgress(context.Count, context.Total);
  }
}

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  auto& context = *static_cast<UploadContext*>(user);
  try {
    ReportSentChunk(context);
    const std::int64_t remaining = context.Total - context.Provided;
    if (remaining <= 0) return 0;
    const auto want = static_cast<size_t>(std::min<std::int64_t>(
        {remaining, TransferChunkSize, static_cast<std::int64_t>(size * count)}));
    size_t done = 0;
    while (done < want) {
      ssize_t got = ::read(context.Fd, buffer + done, want - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        const int error = got < 0 ? errno : EIO;
        throw RuntimeError(ErrorNumberFromErrno(error), ErrnoText(error));
      }
      done += static_cast<size_t>(got);
    }
    context.Provided += static_cast<std::int64_t>(want);
    context.LastWasFull = want == static_cast<size_t>(TransferChunkSize);
    context.PendingFull = context.LastWasFull;
    return want;
  } catch (...) {
    context.Failure = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
}

}  // namespace

size_t FTP::WriteAhead(char* data, size_t size, size_t count, void* user) {
  void* target = static_cast<FTP*>(user)->mAheadTarget;
  // Until its download is asked for, the reply waits in libcurl's hands.
  if (target == nullptr) return CURL_WRITEFUNC_PAUSE;
  return WriteDownload(data, size, count, target);
}

std::int64_t FTP::GetFTPFileSize(std::string_view sFile) {
  if (!RequireConnection("FtpFindFirstFile")) return -2;
  ResetRequest();
  CURL* curl = mCurl.get();
  curl_easy_setopt(curl, CURLOPT_URL, FtpUrl(ToServer(sFile), false).c_str());
  curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L);  // servers refuse SIZE in text mode
  CURLcode result = Perform();
  if (result == CURLE_REMOTE_FILE_NOT_FOUND) return -1;  // the server answered SIZE with 550
  if (result != CURLE_OK) {
    RecordCurl("FtpFindFirstFile", result);
    return -2;
  }
  curl_off_t length = -1;
  curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
  if (length < 0) {
    Record("FtpFindFirstFile", inet::InvalidServerResponse);
    return -2;
  }
  return length;
}

bool FTP::FTPDownloadFile(const std::filesystem::path& sLocal, std::string_view sRemote) {
  bool overLimit = false;
  return Fetch({.Target = sLocal, .Remote = std::string(sRemote)}, false, overLimit);
}

bool FTP::HTTPDownloadFile(const std::filesystem::path& sLocal, std::string_view sRemote) {
  bool overLimit = false;
  return Fetch({.Target = sLocal, .Remote = std::string(sRemote)}, true, overLimit);
}

bool FTP::SimpleFTPGetFile(const std::filesystem::path& sLocal, std::string_view sRemote) {
  if (!RequireConnection("SimpleFtpGetFile")) return false;
  bool overLimit = false;
  return Download({.Target = sLocal, .Remote = std::string(sRemote)}, false, "SimpleFtpGetFile",
                  overLimit);
}

TransferResult FTP::Download(const DownloadRequest& request) {
  const std::string before = mLastError;
  bool overLimit = false;
  if (Fetch(request, !IsFtp(), overLimit)) return {};
  TransferResult result{TransferResult::State::Failed, mLastErrorCode, mLastError};
  if (mProxyRefused) {
    // A proxy that refuses again says the same again.
    result.Code = 0;
    result.ProxyRefused = true;
  } else if (mLastError.empty() || mLastError == before) {
    // A missing or empty remote file fails without a text of its own; an old text would name
    // the wrong failure.
    result.Code = 0;
    result.Text = "The server has no file " + request.Remote + " (or it is empty)";
  }
  if (overLimit) result.Status = TransferResult::State::OverLimit;
  return result;
}

bool FTP::Fetch(const DownloadRequest& asked, bool http, bool& overLimit) {
  DownloadRequest request = asked;
  request.Target = TrimSpaces(asked.Target);
  request.Remote = Trim(asked.Remote, " ");
  if (request.Target.empty() || request.Remote.empty()) return false;
  if (!RequireConnection(http ? "HttpOpenRequest:GetFile" : "FtpFindFirstFile")) return false;
  return Download(request, http, {}, overLimit);
}

// One request per download: for FTP, SIZE and then RETR on the open connection (see
// SetFtpSizeQuery), the same commands as a separate size query would cost, without its extra
// round trip. A `simpleLabel` makes it the one-call transfer: no events, every failure under that
// label.
bool FTP::Download(const DownloadRequest& request, bool http, std::string_view simpleLabel,
                   bool& overLimit) {
  static const FtpEvents NoEvents;
  const bool simple = !simpleLabel.empty();
  const std::filesystem::path& local = request.Target;
  const std::string& remote = request.Remote;
  const std::string& following = request.Following;
  AdvanceAhead();
  ChunkedDownload sink(local, simple ? NoEvents : mEvents);
  sink.SetFreeSpaceSource(&mOptions.FreeSpace);
  if (request.Sha256 && !simple) {
    sink.ExpectSha256(*request.Sha256);
    std::filesystem::path partial = request.Partial;
    if (partial.empty()) (partial = local) += ".partial";
    sink.ResumeFrom(partial);
  }
  sink.SetLimit(request.Limit);
  if (mOptions.DownloadRate) {
    sink.SetPacer([this](std::size_t bytes) {
      mThrottled +=
          mOptions.DownloadRate->Await(static_cast<std::int64_t>(bytes), mEvents.WaitingForData);
    });
  }
  if (!http && !simple && mTransferType == TransferTypeAscii) {
    // Text mode changes line ends on the way, and libcurl does not ask the size.
    const std::int64_t size = GetFTPFileSize(remote);
    if (size <= 0) return false;
    sink.SetTotal(size);
    sink.AllowSizeChange();
  }
  const std::string url = DownloadUrl(remote, http);
  // The request sent ahead for this file carries on where it stands.
  bool ahead = !simple && sink.Offset() == 0 && !mAheadUrl.empty() && mAheadUrl == url;
  if (!ahead) ResetRequest();
  CURL* curl = mCurl.get();
  DownloadContext context;
  context.Curl = curl;
  context.Sink = &sink;
  context.Http = http;
  context.Simple = simple;
  context.FtpSize = &mAnnouncedSize;
  context.Resuming = sink.Offset() > 0;
  if (context.Resuming && http)
    curl_easy_setopt(curl, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(sink.Offset()));
  // The limit holds for this download's own requests, not for the one sent ahead after them.
  struct RequestLimit {
    std::int64_t& Bytes;
    ~RequestLimit() { Bytes = -1; }
  } requestLimit{mRequestLimit};
  if (sink.Limit() >= 0) mRequestLimit = sink.Limit() - sink.Offset();
  const auto run = [&]() -> CURLcode {
    CURLcode result = CURLE_OK;
    if (ahead) {
      ahead = false;
      mAheadUrl.clear();
      mAheadTarget = &context;
      curl_easy_pause(curl, CURLPAUSE_CONT);  // hands over what arrived meanwhile
      result = Perform(true);
    } else {
      SetDownload(url, http, sink.Offset());
      curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &WriteDownload);
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, &context);
      result = Perform();
    }
    mAheadTarget = nullptr;
    return result;
  };
  if (http) {
    mHttpSize = -2;
    bool rangeIgnored = false;
    const auto request = [&]() -> bool {
      const CURLcode result = run();
      if (sink.Failure()) std::rethrow_exception(sink.Failure());
      if (RefusedOverLimit(sink)) {
        overLimit = true;
        return false;
      }
      if (result == CURLE_RANGE_ERROR && context.Resuming) {
        rangeIgnored = true;
        return false;
      }
      if (result == CURLE_OK && !mHeadersEnded) {
        Record("HttpSendRequest", inet::ConnectionAborted);
        return false;
      }
      // A status line that is no HTTP status line: the server's answer cannot be understood.
      if (result == CURLE_UNSUPPORTED_PROTOCOL) {
        Record("HttpSendRequest", inet::InvalidServerResponse);
        return false;
      }
      long status = 0;
      curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
      if (!context.Checked && status != 0) {
        // No byte came: the status decides alone, and a whole reply without a byte is empty.
        context.HttpSize = HttpSizeOf(curl, context.Resuming);
        if (context.HttpSize == UnknownLength && result == CURLE_OK) context.HttpSize = 0;
        context.Refused = context.HttpSize != UnknownLength && context.HttpSize <= 0;
        if (context.HttpSize > 0) sink.SetTotal(context.HttpSize);
      }
      mHttpSize = context.HttpSize == UnknownLength ? -2 : context.HttpSize;
      if (context.Refused) {
        // 404 and an empty file say nothing; any other status says what it is.
        if (context.HttpSize == -2 && !RecordProxyRefusal())
          Record("HttpSendRequest", inet::ExtendedError);
        return false;
      }
      if (result != CURLE_OK && status == 0) {
        RecordCurl("HttpSendRequest", result);
        return false;
      }
      if (sink.Overflowed() || mExcessData) {
        Record(ReadLabel(sink.Total(), sink.Total()), inet::InvalidServerResponse);
        return false;
      }
      if (result != CURLE_OK) {
        RecordCurl(ReadLabel(sink.Received(), sink.Total()), result);
        return false;
      }
      return true;
    };
    // A failed reply may leave bytes behind on its connection, which the next request would
    // take for the start of its own reply: it gets a new connection.
    bool ok = request();
    if (!ok && rangeIgnored) {
      // The server does not resume: the whole file from its start, once more.
      sink.Restart();
      context.Resuming = false;
      context.Checked = false;
      ResetRequest();
      ok = request();
    }
    if (!ok) {
      DropConnection();
      return false;
    }
  } else {
    const CURLcode result = run();
    if (sink.Failure()) std::rethrow_exception(sink.Failure());
    if (RefusedOverLimit(sink)) {
      overLimit = true;
      // The control connection may be in the middle of a command sequence.
      DropConnection();
      return false;
    }
    if (simple) {
      if (result != CURLE_OK) {
        RecordCurl(simpleLabel, result);
        return false;
      }
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
    // A missing file: SIZE answered 550.
    if (mLastCommand == "SIZE" && mLastReplyCode == 550 && result != CURLE_OK) return false;
    if (context.UnknownSize) {
      Record("FtpFindFirstFile", inet::InvalidServerResponse);
      return false;
    }
    if (sink.Overflowed() || mExcessData) {
      Record(ReadLabel(sink.Total(), sink.Total()), inet::InvalidServerResponse);
      return false;
    }
    if (result != CURLE_OK) {
      if (mLastCommand == "SIZE") {
        RecordCurl("FtpFindFirstFile", result);
      } else if (!mDataStarted && sink.Received() == 0) {
        RecordCurl("FtpOpenFile:GetFile", result);
      } else {
        const std::int64_t length = sink.Total() >= 0 ? sink.Total() : mAnnouncedSize;
        RecordCurl(ReadLabel(sink.Received(), length), result);
      }
      return false;
    }
    if (!context.Checked) {
      // Nothing arrived: an empty remote file is refused without a message.
      if (mAnnouncedSize == 0) return false;
      if (mAnnouncedSize < 0) {
        Record("FtpFindFirstFile", inet::InvalidServerResponse);
        return false;
      }
      sink.SetTotal(std::max<std::int64_t>(0, mAnnouncedSize - sink.Offset()));
    }
  }
  if (sink.ExactSize() && sink.Total() > 0 && sink.Received() < sink.Total()) {
    // Fewer bytes than announced is a broken transfer, however politely the server ended it.
    Record(ReadLabel(sink.Received(), sink.Total()), inet::ConnectionAborted);
    if (http) DropConnection();
    return false;
  }
  if (http && context.HttpSize == UnknownLength) mHttpSize = sink.Received();
  mRequestLimit = -1;
  if (!following.empty()) StartAhead(DownloadUrl(following, http), http);
  sink.Finish();
  AdvanceAhead();
  return true;
}

bool FTP::RefusedOverLimit(const ChunkedDownload& sink) {
  if (!mAnnouncedTooLarge && !sink.OverLimit()) return false;
  mLastErrorCode = inet::FileTooLarge;
  mLastError = FormatInternetError(
      "InternetReadFile", inet::FileTooLarge,
      "The file is larger than the limit of " + std::to_string(sink.Limit()) + " bytes.");
  return true;
}

bool FTP::FTPUploadFile(const std::filesystem::path& sLocal, std::string_view sRemote) {
  const std::filesystem::path local = TrimSpaces(sLocal);
  const std::string_view remote = Trim(sRemote, " ");
  if (local.empty() || remote.empty()) return false;
  if (!RequireConnection("FtpOpenFile:PutFile")) return false;
  return Upload(local, remote, true, "FtpOpenFile:PutFile");
}

bool FTP::SimpleFTPPutFile(const std::filesystem::path& sLocal, std::string_view sRemote) {
  if (!RequireConnection("SimpleFtpPutFile")) return false;
  return Upload(sLocal, sRemote, false, "SimpleFtpPutFile");
}

// The local file is opened before the remote one, so that a missing local file leaves nothing
// behind on the server.
bool FTP::Upload(const std::filesystem::path& local, std::string_view remote, bool chunked,
                 std::string_view label) {
  FileDescriptor file(::open(local.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0 || S_ISDIR(info.st_mode)) {
    const int error = file.Get() < 0 ? errno : EISDIR;
    if (!chunked) {
      Record(label, SystemErrorFromErrno(error));
      return false;
    }
    throw RuntimeError(ErrorNumberFromErrno(error), local.string() + ": " + ErrnoText(error));
  }
  UploadContext context;
  context.Fd = file.Get();
  context.Events = chunked ? &mEvents : nullptr;
  context.Total = info.st_size;

  ResetRequest();
  CURL* curl = mCurl.get();
  curl_easy_setopt(curl, CURLOPT_URL, FtpUrl(ToServer(remote), false).c_str());
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(context.Total));
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadUpload);
  curl_easy_setopt(curl, CURLOPT_READDATA, &context);
  const CURLcode result = Perform();
  if (context.Failure) std::rethrow_exception(context.Failure);
  if (result != CURLE_OK) {
    if (!chunked || (!mDataStarted && context.Provided == 0)) {
      RecordCurl(label, result);
    } else {
      RecordCurl(context.LastWasFull ? "InternetWriteFile" : "InternetWriteFile2", result);
    }
    return false;
  }
  ReportSentChunk(context);
  if (chunked && mEvents.FileTransferProgress) {
    mEvents.FileTransferProgress(context.Total, context.Total);
  }
  return true;
}

}  // namespace tandor
