// Remote file management, size queries and folder listings of FTP.
#include <ctime>

#include "platform/Error.h"
#include "text/TextCase.h"
#include "transfer/FTP.h"
#include "transfer/InternetError.h"

namespace tandor {

namespace {

constexpr int Overflow = 6;

size_t CollectListing(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// The folder in a "257" reply: the text between the first quote and its partner, with doubled
// quotes standing for one.
std::string FolderFromPwdReply(std::string_view reply) {
  std::size_t open = reply.find('"');
  if (open == std::string_view::npos) return {};
  std::string folder;
  for (std::size_t i = open + 1; i < reply.size(); ++i) {
    if (reply[i] != '"') {
      folder += reply[i];
    } else if (i + 1 < reply.size() && reply[i + 1] == '"') {
      folder += '"';
      ++i;
    } else {
      break;
    }
  }
  return folder;
}

}  // namespace

bool FTP::RunCommands(const std::vector<std::string>& commands, std::string_view label) {
  if (!RequireConnection(label)) return false;
  ResetRequest();
  CURL* curl = mCurl.get();
  CurlList quote;
  for (const std::string& command : commands) quote.Append(ToServer(command));
  curl_easy_setopt(curl, CURLOPT_URL, (mBaseUrl + "/").c_str());
  curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl, CURLOPT_QUOTE, quote.Get());
  const CURLcode result = Perform();
  curl_easy_setopt(curl, CURLOPT_QUOTE, nullptr);
  if (result != CURLE_OK) {
    RecordCurl(label, result);
    return false;
  }
  return true;
}

bool FTP::RenameFTPFile(std::string_view sExisting, std::string_view sNewName) {
  return RunCommands({"RNFR " + std::string(sExisting), "RNTO " + std::string(sNewName)},
                     "RenameFTPFile");
}

bool FTP::CreateFTPDirectory(std::string_view sDirectory) {
  return RunCommands({"MKD " + std::string(sDirectory)}, "CreateFTPDirectory");
}

bool FTP::RemoveFTPDirectory(std::string_view sDirectory) {
  return RunCommands({"RMD " + std::string(sDirectory)}, "RemoveFTPDirectory");
}

bool FTP::DeleteFTPFile(std::string_view sRemote) {
  return RunCommands({"DELE " + std::string(sRemote)}, "DeleteFTPFile");
}

std::string FTP::GetFTPDirectory() {
  if (!RunCommands({"PWD"}, "FtpGetCurrentDirectory")) return {};
  return FromServer(FolderFromPwdReply(mLastReply));
}

bool FTP::SetFTPDirectory(std::string_view sDir) {
  return RunCommands({"CWD " + std::string(sDir)}, "FtpSetCurrentDirectory");
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

// Asked once per connection: machine listings carry exact sizes and UTC times.
bool FTP::ServerOffersMachineListing() {
  if (mMachineListing) return *mMachineListing;
  ResetRequest();
  CURL* curl = mCurl.get();
  CurlList quote;
  quote.Append("*FEAT");  // '*': a server without FEAT is no failure
  curl_easy_setopt(curl, CURLOPT_URL, (mBaseUrl + "/").c_str());
  curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(curl, CURLOPT_QUOTE, quote.Get());
  const CURLcode result = Perform();
  curl_easy_setopt(curl, CURLOPT_QUOTE, nullptr);
  bool offered = false;
  if (result == CURLE_OK && mLastReplyCode == 211) {
    for (const std::string& line : mReply) {
      std::size_t start = line.find_first_not_of(' ');
      if (start != std::string::npos && UpperAscii(line.substr(start)).starts_with("MLST")) {
        offered = true;
      }
    }
  }
  mMachineListing = offered;
  return offered;
}

// Lists the folder part of `filter` and keeps the entries whose names match its last part.
// Servers differ in what patterns they take, so the match is done here.
FTP::ListResult FTP::ListMatching(std::string_view filter, std::vector<ListedEntry>& matches) {
  std::string_view folder;
  std::string_view pattern = filter;
  if (std::size_t slash = filter.rfind('/'); slash != std::string_view::npos) {
    folder = filter.substr(0, slash + 1);
    pattern = filter.substr(slash + 1);
  }
  if (pattern.empty() || pattern == "*.*") pattern = "*";

  const bool machine = ServerOffersMachineListing();
  ResetRequest();
  CURL* curl = mCurl.get();
  const std::string url = folder.empty() ? mBaseUrl + "/" : FtpUrl(ToServer(folder), true);
  std::string text;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (machine) curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "MLSD");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectListing);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &text);
  const CURLcode result = Perform();
  if (result != CURLE_OK) {
    // A line cut off by the failure is no entry.
    std::size_t lastEnd = text.rfind('\n');
    text.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
  }
  const std::time_t now = mOptions.Clock ? mOptions.Clock() : std::time(nullptr);
  for (ListedEntry& entry : ParseListing(text, machine, now)) {
    entry.Name = FromServer(entry.Name);
    if (MatchesNamePattern(entry.Name, pattern)) matches.push_back(std::move(entry));
  }
  if (result != CURLE_OK) {
    const bool broken = !matches.empty();
    RecordCurl(broken ? "InternetFindNextFile" : "FtpFindFirstFile", result);
    return broken ? ListResult::Broken : ListResult::Failed;
  }
  return matches.empty() ? ListResult::NotFound : ListResult::Complete;
}

void FTP::AddToDirList(const ListedEntry& entry) {
  if (!mDirList) mDirList = std::make_shared<DirList>();
  // The list is keyed without regard to case: a second name that differs only in case is
  // left out and the listing goes on.
  if (mDirList->Contains(entry.Name)) return;
  // Listings give one time; it stands for all three.
  const double date = LocalDateFromUnixTime(entry.ModifiedUtc);
  mDirList->Add(entry.Attributes, date, date, date, entry.Size, entry.Name);
}

std::shared_ptr<DirList> FTP::GetDirectoryListing(std::string_view sFilter) {
  mDirList.reset();
  if (!RequireConnection("FtpFindFirstFile")) return nullptr;
  std::vector<ListedEntry> matches;
  const ListResult result = ListMatching(sFilter, matches);
  for (const ListedEntry& entry : matches) AddToDirList(entry);
  return result == ListResult::Complete ? mDirList : nullptr;
}

std::int16_t FTP::GetDirectoryDataCount(std::string_view sFilter) {
  if (!RequireConnection("FtpFindFirstFile")) return 0;
  std::vector<ListedEntry> matches;
  if (ListMatching(sFilter, matches) != ListResult::Complete) return 0;
  if (matches.size() > 32767) throw RuntimeError(Overflow, "Overflow: too many entries to count");
  return static_cast<std::int16_t>(matches.size());
}

}  // namespace tandor
