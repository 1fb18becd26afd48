#include "transfer/Downloader.h"

#include <utility>

namespace tandor {

Downloader::Downloader(FtpEvents events, FtpOptions options, bool http, bool passive)
    : mFtp(std::make_unique<FTP>(std::move(events), std::move(options))), mHttp(http) {
  if (http) mFtp->Service(FTP::ServiceHttp);
  if (passive) mFtp->SetModePassive();
}

Downloader::~Downloader() = default;

TransferResult Downloader::Open(std::string_view address, std::string_view user,
                                std::string_view password, int port) {
  if (mFtp->OpenConnection(address, user, password, port)) return {};
  const std::string& text = mFtp->GetLastErrorMessage();
  return {TransferResult::State::Failed, mFtp->LastErrorCode(), text, mFtp->ProxyRefused()};
}

TransferResult Downloader::Download(const DownloadRequest& request) {
  const std::string before = mFtp->GetLastErrorMessage();
  if (request.Sha256) mFtp->ExpectSha256(*request.Sha256);
  mFtp->KeepPartIn(request.Partial);
  mFtp->AnnounceFollowingDownload(request.Following);
  mFtp->LimitNextDownload(request.Limit);
  const bool done = mHttp ? mFtp->HTTPDownloadFile(request.Target, request.Remote)
                          : mFtp->FTPDownloadFile(request.Target, request.Remote);
  if (done) return {};
  TransferResult result = Failure(before, request.Remote);
  if (mFtp->ExceededLimit()) result.Status = TransferResult::State::OverLimit;
  return result;
}

void Downloader::Close() {
  mFtp->CloseConnection();
}

TransferResult Downloader::Failure(const std::string& before, const std::string& remote) const {
  const std::string& now = mFtp->GetLastErrorMessage();
  // A proxy that refuses again says the same again.
  if (mFtp->ProxyRefused()) return {TransferResult::State::Failed, 0, now, true};
  // A missing or empty remote file fails without a text of its own; an old text would name the
  // wrong failure.
  if (now.empty() || now == before)
    return {TransferResult::State::Failed, 0,
            "The server has no file " + remote + " (or it is empty)"};
  return {TransferResult::State::Failed, mFtp->LastErrorCode(), now};
}

}  // namespace tandor
