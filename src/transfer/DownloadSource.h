#pragma once
// The protocols FTP takes files with: an FTP server (SIZE, then RETR on the open control
// connection) and an HTTP server (GET). The client holds the one of its service, chosen in
// DownloadSource::For, and its download path asks it for everything the protocols do
// differently: the scheme, the options of every request, how a download is asked for, and how
// its outcome is read.

#include <cstdint>
#include <string>
#include <string_view>

#include "transfer/CurlHandle.h"

namespace tandor {

class FTP;
struct FileDownload;

class DownloadSource {
 public:
  virtual ~DownloadSource() = default;

  // The source of FTP::ServiceFtp or FTP::ServiceHttp (any other number: FTP's).
  static const DownloadSource& For(int service);

  // FTP's reply and command tracking, kept connections and failure texts apply.
  virtual bool IsFtp() const = 0;
  // The scheme of the server's URLs.
  virtual const char* Scheme(bool tls) const = 0;
  // The label of a download asked for without a connection.
  virtual std::string_view ConnectionLabel() const = 0;
  virtual std::string Url(const FTP& client, std::string_view remote) const = 0;
  // The protocol's options of every request, after libcurl's defaults.
  virtual void SetOptions(const FTP& client, CURL* curl) const = 0;
  // The options of a download of `url`, from byte `offset` on.
  virtual void SetDownload(FTP& client, const std::string& url, std::int64_t offset) const = 0;
  // What the download needs to know before its request; false: it failed already.
  virtual bool Prepare(FTP& client, FileDownload& download) const = 0;
  // Looks at status and size before the first byte is kept; false stops the transfer.
  virtual bool CheckBeforeFirstByte(FileDownload& download) const = 0;
  // Runs the download's request and records how it failed; true when the file came whole.
  virtual bool Transfer(FTP& client, FileDownload& download) const = 0;
};

class FtpSource final : public DownloadSource {
 public:
  bool IsFtp() const override { return true; }
  const char* Scheme(bool) const override { return "ftp://"; }
  std::string_view ConnectionLabel() const override { return "FtpFindFirstFile"; }
  std::string Url(const FTP& client, std::string_view remote) const override;
  void SetOptions(const FTP& client, CURL* curl) const override;
  void SetDownload(FTP& client, const std::string& url, std::int64_t offset) const override;
  bool Prepare(FTP& client, FileDownload& download) const override;
  bool CheckBeforeFirstByte(FileDownload& download) const override;
  bool Transfer(FTP& client, FileDownload& download) const override;

 private:
  // An FTP download's SIZE (and REST) go out as commands of our own: see the definition.
  static void SetSizeQuery(FTP& client, const std::string& url, std::int64_t offset);
};

class HttpSource final : public DownloadSource {
 public:
  bool IsFtp() const override { return false; }
  const char* Scheme(bool tls) const override { return tls ? "https://" : "http://"; }
  std::string_view ConnectionLabel() const override { return "HttpOpenRequest:GetFile"; }
  std::string Url(const FTP& client, std::string_view remote) const override;
  void SetOptions(const FTP& client, CURL* curl) const override;
  void SetDownload(FTP& client, const std::string& url, std::int64_t offset) const override;
  bool Prepare(FTP&, FileDownload&) const override { return true; }
  bool CheckBeforeFirstByte(FileDownload& download) const override;
  bool Transfer(FTP& client, FileDownload& download) const override;

 private:
  // One request of the download; `rangeIgnored`: a resumed one the server answered whole.
  static bool Request(FTP& client, FileDownload& download, bool& rangeIgnored);
};

}  // namespace tandor
