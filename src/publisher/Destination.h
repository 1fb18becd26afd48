#pragma once
// A product's server folder as the publisher writes it: a folder on an FTP server, or a local
// folder that a web server serves. Saving the manifest and publishing from the command line go
// through this one interface, whichever of the two it is.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CodePage.h"
#include "transfer/TransferEvents.h"

namespace tandor {

class FTP;

// Where Stage puts `name`: a name no client asks for.
std::string StagedName(std::string_view name);

// A file of the folder, as a local file that can be read.
struct FetchedFile {
  enum class Kind { Fetched, Missing, Failed };
  Kind Result = Kind::Failed;
  std::filesystem::path File;  // when fetched
  std::string Problem;         // when failed
};

class Destination {
 public:
  virtual ~Destination() = default;

  // How the folder is named in messages (an FTP URL shows no password).
  virtual std::string Describe() const = 0;
  // Reaches the folder (connects, for a server); nothing when it worked, else why not. Opening
  // an open folder does nothing.
  virtual std::optional<std::string> Open() = 0;
  virtual void Close() {}
  // The names of the files in the folder, or nothing when they cannot be listed (`problem` then
  // says why).
  virtual std::optional<std::vector<std::string>> List(std::string& problem) = 0;
  // `name` of the folder as a local file: the file itself in a local folder, a download into
  // `scratch` (a folder) from a server.
  virtual FetchedFile Fetch(std::string_view name, const std::filesystem::path& scratch) = 0;
  // Puts `local` into the folder as `name`, replacing what is there; nothing when it worked,
  // else why not.
  virtual std::optional<std::string> Put(const std::filesystem::path& local,
                                         std::string_view name) = 0;
  // Puts `local` into the folder as StagedName(`name`), for Settle to move into place; nothing
  // when it worked, else why not (and nothing is left of it).
  virtual std::optional<std::string> Stage(const std::filesystem::path& local,
                                           std::string_view name) = 0;
  // Renames StagedName(`name`) to `name`, replacing what is there; nothing when it worked, else
  // why not.
  virtual std::optional<std::string> Settle(std::string_view name) = 0;
  // Removes `name` from the folder; nothing when it worked, else why not.
  virtual std::optional<std::string> Remove(std::string_view name) = 0;
  // Makes the folder `name` in the folder unless it is there; a name of the other operations
  // may then start with "name/".
  virtual std::optional<std::string> MakeFolder(std::string_view name) = 0;
};

// The connection fields of an FTP server, exactly as typed.
struct ServerFields {
  std::string Address;
  std::string User;
  std::string Password;
  std::string Port;
};

struct FtpFolderOptions {
  CodePage ServerCodePage;
  FtpEvents Events;
  // FTP with explicit TLS; the certificate is checked against CaFile, or the system's
  // authorities when it is empty.
  bool Tls = false;
  std::string CaFile;
  bool Passive = false;
  // Put stages each file and settles it once it is whole, so that no client ever downloads half
  // a file. Without it a file goes up under its name.
  bool ViaTemporaryName = false;
};

// A folder of an FTP server; the folder text is used as typed ("" is the server's root).
class FtpFolder : public Destination {
 public:
  FtpFolder(ServerFields server, std::string folder, FtpFolderOptions options);
  ~FtpFolder() override;

  std::string Describe() const override;
  std::optional<std::string> Open() override;
  void Close() override;
  std::optional<std::vector<std::string>> List(std::string& problem) override;
  FetchedFile Fetch(std::string_view name, const std::filesystem::path& scratch) override;
  std::optional<std::string> Put(const std::filesystem::path& local,
                                 std::string_view name) override;
  std::optional<std::string> Stage(const std::filesystem::path& local,
                                   std::string_view name) override;
  std::optional<std::string> Settle(std::string_view name) override;
  std::optional<std::string> Remove(std::string_view name) override;
  std::optional<std::string> MakeFolder(std::string_view name) override;

  // The connection of the last Open, for what only a server does.
  FTP& Client() { return *mFTP; }

 private:
  std::string Remote(std::string_view name) const;

  ServerFields mServer;
  std::string mFolder;
  FtpFolderOptions mOptions;
  std::unique_ptr<FTP> mFTP;
  bool mOpen = false;
};

// A local folder, such as the document root of a web server. Every file is written under a
// temporary name beside its target and renamed over it, readable by everyone.
class LocalFolder : public Destination {
 public:
  explicit LocalFolder(std::filesystem::path folder) : mFolder(std::move(folder)) {}

  std::string Describe() const override { return mFolder.string(); }
  std::optional<std::string> Open() override;
  std::optional<std::vector<std::string>> List(std::string& problem) override;
  FetchedFile Fetch(std::string_view name, const std::filesystem::path& scratch) override;
  std::optional<std::string> Put(const std::filesystem::path& local,
                                 std::string_view name) override;
  std::optional<std::string> Stage(const std::filesystem::path& local,
                                   std::string_view name) override;
  std::optional<std::string> Settle(std::string_view name) override;
  std::optional<std::string> Remove(std::string_view name) override;
  std::optional<std::string> MakeFolder(std::string_view name) override;

 private:
  std::filesystem::path mFolder;
};

}  // namespace tandor
