#include "transfer/Downloader.h"

#include <utility>

namespace tandor {

Downloader::Downloader(FtpEvents events, FtpOptions options, TransferProtocol protocol)
    : mFtp(std::make_unique<FTP>(std::move(events), std::move(options))) {
  if (protocol == TransferProtocol::Http) mFtp->Service(FTP::ServiceHttp);
  if (protocol == TransferProtocol::FtpPassive) mFtp->SetModePassive();
}

Downloader::~Downloader() = default;

TransferResult Downloader::Open(std::string_view address, std::string_view user,
                                std::string_view password, int port) {
  if (mFtp->OpenConnection(address, user, password, port)) return {};
  const std::string& text = mFtp->GetLastErrorMessage();
  return {TransferResult::State::Failed, mFtp->LastErrorCode(), text, mFtp->ProxyRefused()};
}

void Downloader::Close() {
  mFtp->CloseConnection();
}

}  // namespace tandor
