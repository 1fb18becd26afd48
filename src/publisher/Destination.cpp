#include "publisher/Destination.h"

#include <algorithm>
#include <system_error>

#include "platform/Error.h"
#include "platform/FileIo.h"
#include "text/TextCase.h"
#include "transfer/FTP.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// Where a file goes up before it is renamed into place; clients never ask for such a name.
constexpr std::string_view kUploadingSuffix = ".uploading";

std::string Failure(const fs::path& file, const std::error_code& error) {
  return file.string() + ": " + error.message();
}

}  // namespace

std::string StagedName(std::string_view name) {
  return std::string(name) + std::string(kUploadingSuffix);
}

FtpFolder::FtpFolder(ServerFields server, std::string folder, FtpFolderOptions options)
    : mServer(std::move(server)), mFolder(std::move(folder)), mOptions(std::move(options)) {}

FtpFolder::~FtpFolder() = default;

std::string FtpFolder::Describe() const {
  std::string port = Trim(mServer.Port).empty() ? "21" : mServer.Port;
  return std::string(mOptions.Tls ? "ftps://" : "ftp://") + mServer.User + "@" + mServer.Address +
         ":" + port + mFolder;
}

std::optional<std::string> FtpFolder::Open() {
  if (mOpen) return std::nullopt;
  FtpOptions options;
  options.ServerCodePage = mOptions.ServerCodePage;
  options.Tls = mOptions.Tls;
  options.CaFile = mOptions.CaFile;
  mFTP = std::make_unique<FTP>(mOptions.Events, options);
  if (mOptions.Passive) mFTP->SetModePassive();
  // An empty port is the FTP port, as it is in Tandor.ini.
  const std::string port = Trim(mServer.Port).empty() ? "21" : mServer.Port;
  try {
    mOpen = mFTP->OpenConnection(mServer.Address, mServer.User, mServer.Password, port);
  } catch (const RuntimeError& error) {
    return error.Description();  // a port that is no number cannot connect either
  }
  if (mOpen) return std::nullopt;
  return mFTP->GetLastErrorMessage();
}

void FtpFolder::Close() {
  if (mFTP) mFTP->CloseConnection();
  mOpen = false;
}

std::string FtpFolder::Remote(std::string_view name) const {
  return mFolder + "/" + std::string(name);
}

std::optional<std::vector<std::string>> FtpFolder::List(std::string& problem) {
  // An empty folder and a listing that failed both give no list; only a failure leaves a text
  // of its own.
  const std::string before = mFTP->GetLastErrorMessage();
  std::vector<std::string> names;
  const std::shared_ptr<DirList> listing = mFTP->GetDirectoryListing(Remote("*"));
  if (!listing) {
    if (mFTP->GetLastErrorMessage() == before) return names;
    problem = mFTP->GetLastErrorMessage();
    return std::nullopt;
  }
  for (std::size_t i = 1; i <= listing->Count(); ++i) {
    const DirItem& item = listing->Item(i);
    if (!item.Directory) names.push_back(item.FileName);
  }
  return names;
}

FetchedFile FtpFolder::Fetch(std::string_view name, const fs::path& scratch) {
  const std::string remote = Remote(name);
  const std::int64_t size = mFTP->GetFTPFileSize(remote);
  if (size == -1) return {FetchedFile::Kind::Missing, {}, {}};
  if (size < 0) return {FetchedFile::Kind::Failed, {}, mFTP->GetLastErrorMessage()};
  const fs::path local = scratch / std::string(name);
  std::error_code error;
  fs::create_directories(local.parent_path(), error);
  try {
    if (!mFTP->FTPDownloadFile(local, remote))
      return {FetchedFile::Kind::Failed, {}, mFTP->GetLastErrorMessage()};
  } catch (const RuntimeError& error) {
    return {FetchedFile::Kind::Failed, {}, error.Description()};
  }
  return {FetchedFile::Kind::Fetched, local, {}};
}

std::optional<std::string> FtpFolder::Put(const fs::path& local, std::string_view name) {
  if (mOptions.ViaTemporaryName) {
    if (std::optional<std::string> failure = Stage(local, name)) return failure;
    const std::optional<std::string> failure = Settle(name);
    if (failure) Remove(StagedName(name));
    return failure;
  }
  try {
    if (mFTP->FTPUploadFile(local, Remote(name))) return std::nullopt;
    return mFTP->GetLastErrorMessage();
  } catch (const RuntimeError& error) {
    return error.Description();
  }
}

std::optional<std::string> FtpFolder::Stage(const fs::path& local, std::string_view name) {
  const std::string staged = Remote(StagedName(name));
  try {
    std::string failure;
    if (mFTP->FTPUploadFile(local, staged)) {
      // A server may keep less than it was sent and still call the upload complete.
      std::error_code error;
      const auto sent = static_cast<std::int64_t>(fs::file_size(local, error));
      const std::int64_t kept = mFTP->GetFTPFileSize(staged);
      if (error || kept == -2 || kept == sent) return std::nullopt;  // -2: a server without SIZE
      failure = "the server kept " + std::to_string(std::max<std::int64_t>(kept, 0)) + " of " +
                std::to_string(sent) + " bytes";
    } else {
      failure = mFTP->GetLastErrorMessage();
    }
    mFTP->DeleteFTPFile(staged);
    return failure;
  } catch (const RuntimeError& error) {
    return error.Description();
  }
}

std::optional<std::string> FtpFolder::Settle(std::string_view name) {
  const std::string staged = Remote(StagedName(name)), remote = Remote(name);
  try {
    // Some servers rename nothing over an existing file; the file is then out of reach for a
    // moment only.
    if (mFTP->RenameFTPFile(staged, remote) ||
        (mFTP->DeleteFTPFile(remote) && mFTP->RenameFTPFile(staged, remote)))
      return std::nullopt;
    return mFTP->GetLastErrorMessage();
  } catch (const RuntimeError& error) {
    return error.Description();
  }
}

std::optional<std::string> FtpFolder::Remove(std::string_view name) {
  if (mFTP->DeleteFTPFile(Remote(name))) return std::nullopt;
  return mFTP->GetLastErrorMessage();
}

std::optional<std::string> FtpFolder::MakeFolder(std::string_view name) {
  // MKD of a folder that is there fails as any failure does: an upload into a folder that is not
  // there tells then.
  mFTP->CreateFTPDirectory(Remote(name));
  return std::nullopt;
}

std::optional<std::string> LocalFolder::Open() {
  std::error_code error;
  if (fs::is_directory(mFolder, error)) return std::nullopt;
  return mFolder.string() + ": " + (error ? error.message() : "no such folder");
}

std::optional<std::vector<std::string>> LocalFolder::List(std::string& problem) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(mFolder, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (it->is_regular_file(ignored)) names.push_back(it->path().filename().string());
  }
  if (!error) return names;
  problem = Failure(mFolder, error);
  return std::nullopt;
}

FetchedFile LocalFolder::Fetch(std::string_view name, const fs::path&) {
  const fs::path file = mFolder / std::string(name);
  std::error_code error;
  const fs::file_status status = fs::status(file, error);
  if (status.type() == fs::file_type::not_found) return {FetchedFile::Kind::Missing, {}, {}};
  if (error) return {FetchedFile::Kind::Failed, {}, Failure(file, error)};
  if (!fs::is_regular_file(status))
    return {FetchedFile::Kind::Failed, {}, file.string() + ": not a file"};
  return {FetchedFile::Kind::Fetched, file, {}};
}

namespace {

// Copies `local` to `copy`, readable by whoever serves the folder, whatever the mode of the
// original.
void CopyReadable(const fs::path& local, const fs::path& copy, std::error_code& error) {
  fs::copy_file(local, copy, fs::copy_options::overwrite_existing, error);
  if (!error)
    fs::permissions(copy,
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                        fs::perms::others_read,
                    error);
}

}  // namespace

std::optional<std::string> LocalFolder::Put(const fs::path& local, std::string_view name) {
  const fs::path target = mFolder / std::string(name);
  const fs::path temporary = TemporarySibling(target);
  std::error_code error;
  CopyReadable(local, temporary, error);
  if (!error) fs::rename(temporary, target, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
  }
  ForgetTemporary(temporary);
  if (error) return Failure(target, error);
  return std::nullopt;
}

std::optional<std::string> LocalFolder::Stage(const fs::path& local, std::string_view name) {
  const fs::path staged = mFolder / StagedName(name);
  std::error_code error;
  CopyReadable(local, staged, error);
  if (!error) return std::nullopt;
  std::error_code ignored;
  if (!fs::is_directory(staged, ignored)) fs::remove(staged, ignored);
  return Failure(staged, error);
}

std::optional<std::string> LocalFolder::Settle(std::string_view name) {
  const fs::path target = mFolder / std::string(name);
  std::error_code error;
  fs::rename(mFolder / StagedName(name), target, error);
  if (error) return Failure(target, error);
  return std::nullopt;
}

std::optional<std::string> LocalFolder::Remove(std::string_view name) {
  const fs::path file = mFolder / std::string(name);
  std::error_code error;
  if (fs::remove(file, error) || !error) return std::nullopt;
  return Failure(file, error);
}

std::optional<std::string> LocalFolder::MakeFolder(std::string_view name) {
  const fs::path folder = mFolder / std::string(name);
  std::error_code error;
  // Whoever serves the folder must be able to read it, whatever the umask.
  if (fs::create_directory(folder, error))
    fs::permissions(folder,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    error);
  if (error) return Failure(folder, error);
  return std::nullopt;
}

}  // namespace tandor
