// Uploads of FTP: chunked with progress events, and the one-call transfer. Downloads are in
// FtpDownload.cpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/Error.h"
#include "platform/FileDescriptor.h"
#include "text/TextCase.h"
#include "transfer/FTP.h"
#include "transfer/InternetError.h"

namespace tandor {

namespace {

std::filesystem::path TrimSpaces(const std::filesystem::path& path) {
  return std::filesystem::path(std::string(Trim(path.native(), " ")));
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
    if (!chunked || (!mRequest.DataStarted && context.Provided == 0)) {
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
