#pragma once
// The program's one network client: an FTP connection (downloads, uploads, remote file
// management, listings) or an HTTP server (downloads), over one libcurl easy handle, so that the
// FTP control connection stays open across the operations of one connection.
//
// Operations that can fail return false (or a negative size) and keep a text of the failure in
// GetLastErrorMessage(): label + " error code: " + number + " Message: " + text, or the FTP
// server's own reply alone for number 12003. A success never clears that text. Local file
// failures are not caught: they leave as RuntimeError.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"
#include "transfer/CurlHandle.h"
#include "transfer/DirList.h"
#include "transfer/FtpListing.h"
#include "transfer/TransferEvents.h"

namespace tandor {

struct FtpOptions {
  // Code page of the names and texts exchanged with the server.
  CodePage ServerCodePage;
  // Dates listings that show a time of day instead of a year; the system clock when empty.
  std::function<std::time_t()> Clock;
  // Connecting gives up after ConnectTimeout; a transfer or a reply that moves no byte for
  // IdleTimeout fails with the timeout number.
  std::chrono::seconds ConnectTimeout{30};
  std::chrono::seconds IdleTimeout{60};
};

class FTP {
 public:
  static constexpr int ServiceFtp = 1;
  static constexpr int ServiceHttp = 3;
  static constexpr int TransferTypeAscii = 1;
  static constexpr int TransferTypeBinary = 2;
  static constexpr std::uint32_t FlagPassive = 0x08000000;

  explicit FTP(FtpEvents events = {}, FtpOptions options = {});
  ~FTP();
  FTP(const FTP&) = delete;
  FTP& operator=(const FTP&) = delete;

  void SetEvents(FtpEvents events) { mEvents = std::move(events); }

  // The list of the last listing; a new empty list when there is none.
  std::shared_ptr<DirList> Directory();
  const std::string& GetLastErrorMessage() const { return mLastError; }
  // ServiceFtp (the default) or ServiceHttp; takes effect at the next OpenConnection.
  void Service(int expression) { mService = expression; }

  // FTP: connects and logs in at once. HTTP: remembers the server; the first request connects.
  // A port text that is not a 16-bit signed number throws RuntimeError (13 not a number, 6 too
  // large) before anything else happens; port 0 is the service's default port.
  bool OpenConnection(std::string_view sServer, std::string_view sUser, std::string_view sPassword,
                      std::string_view sPort);
  void CloseConnection();

  bool SimpleFTPPutFile(const std::filesystem::path& sLocal, std::string_view sRemote);
  bool RenameFTPFile(std::string_view sExisting, std::string_view sNewName);
  bool CreateFTPDirectory(std::string_view sDirectory);
  bool RemoveFTPDirectory(std::string_view sDirectory);
  bool DeleteFTPFile(std::string_view sRemote);
  // Chunked transfers with progress events; see TransferEvents.h for the chunk size.
  bool FTPUploadFile(const std::filesystem::path& sLocal, std::string_view sRemote);
  bool FTPDownloadFile(const std::filesystem::path& sLocal, std::string_view sRemote);
  bool HTTPDownloadFile(const std::filesystem::path& sLocal, std::string_view sRemote);
  bool SimpleFTPGetFile(const std::filesystem::path& sLocal, std::string_view sRemote);
  // The server's current folder; empty on failure.
  std::string GetFTPDirectory();
  bool SetFTPDirectory(std::string_view sDir);
  // Size in bytes; -1 when there is no such file (nothing recorded); -2 on any other failure.
  std::int64_t GetFTPFileSize(std::string_view sFile);
  // What the last HTTP request announced: its length for status 200, -1 for 404, -2 for any
  // other status, a 200 without a length, a failed send, or no request yet.
  std::int64_t GetHTTPFileSize() const { return mHttpSize; }
  // Entries of the current folder (or of the folder part of `sFilter`) whose names match the
  // pattern part (`*`, `?`); nullptr when nothing matches or the listing failed.
  std::shared_ptr<DirList> GetDirectoryListing(std::string_view sFilter);
  // The number of such entries; 0 on failure. More than 32767 throws RuntimeError 6.
  std::int16_t GetDirectoryDataCount(std::string_view sFilter);

  void SetTransferASCII() { mTransferType = TransferTypeAscii; }
  void SetTransferBinary() { mTransferType = TransferTypeBinary; }
  void SetModeActive() { mConnectFlags = 0; }
  void SetModePassive() { mConnectFlags = FlagPassive; }

 private:
  friend struct FtpCallbacks;

  // Outcome of one listing request.
  enum class ListResult { Complete, NotFound, Failed, Broken };

  bool IsFtp() const { return mService != ServiceHttp; }
  void ResetRequest();
  CURLcode Perform();
  void Record(std::string_view label, int code);
  void RecordCurl(std::string_view label, CURLcode result);
  bool RequireConnection(std::string_view label);

  std::string ToServer(std::string_view text) const;
  std::string FromServer(std::string_view text) const;
  std::string FtpUrl(std::string_view remotePath, bool folder) const;
  std::string HttpUrl(std::string_view objectPath) const;

  bool RunCommands(const std::vector<std::string>& commands, std::string_view label);
  bool ServerOffersMachineListing();
  ListResult ListMatching(std::string_view filter, std::vector<ListedEntry>& matches);
  void AddToDirList(const ListedEntry& entry);

  bool Download(const std::filesystem::path& local, const std::string& url, bool http,
                std::string_view label);
  bool Upload(const std::filesystem::path& local, std::string_view remote, bool chunked,
              std::string_view label);

  // Reply lines of the FTP server, and what happened during the current request.
  void TakeReplyLine(std::string_view line);
  void TakeDebugText(int type, std::string_view text);

  FtpEvents mEvents;
  FtpOptions mOptions;
  CurlEasy mCurl;
  bool mConnected = false;
  bool mPassiveConnection = false;  // the mode the connection was opened with
  std::string mBaseUrl;
  std::string mUser;
  std::string mPassword;

  int mTransferType = TransferTypeBinary;
  std::uint32_t mConnectFlags = 0;
  int mService = ServiceFtp;
  std::string mLastError;
  std::shared_ptr<DirList> mDirList;
  std::int64_t mHttpSize = -2;
  std::optional<bool> mMachineListing;

  // Per request.
  std::vector<std::string> mReply;  // lines of the reply being received or last received
  bool mReplyComplete = true;
  std::string mLastReply;  // the last complete reply, lines joined by CR LF
  int mLastReplyCode = 0;
  std::string mLastCommand;
  bool mDataStarted = false;  // the server opened the data transfer (1xx reply)
  bool mExcessData = false;   // the server sent more than it announced
};

}  // namespace tandor
