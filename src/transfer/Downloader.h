#pragma once
// The narrow transfer client of the update pass: one connection to one server, and downloads
// that are requests in and results out. Each request carries what its download needs (the
// digest the file must have, a size it must not pass, the file that comes after it); nothing is
// set beforehand. The publisher and the listings keep the whole FTP class.

#include <memory>
#include <string_view>

#include "transfer/DownloadRequest.h"
#include "transfer/FTP.h"

namespace tandor {

class Downloader {
 public:
  Downloader(FtpEvents events, FtpOptions options, TransferProtocol protocol);
  ~Downloader();
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  // FTP: connects and logs in; HTTP: notes the server, which the first request connects to.
  TransferResult Open(std::string_view address, std::string_view user, std::string_view password,
                      int port);
  TransferResult Download(const DownloadRequest& request) { return mFtp->Download(request); }
  void Close();

 private:
  std::unique_ptr<FTP> mFtp;
};

}  // namespace tandor
