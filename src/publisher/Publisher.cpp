#include "publisher/Publisher.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include "manifest/RenumberEntries.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "sync/VersionOrder.h"
#include "text/TextCase.h"
#include "transfer/FTP.h"
#include "ui/Messages.h"
#include "util/FileVersion.h"
#include "util/Integrity.h"
#include "util/NormalizeVersion.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

const char* const kLineEnd = "\r\n";
const char* const kStampFormat = "%Y-%m-%d %H:%M:%S";

RuntimeError FileError(int error, const fs::path& file) {
  const int number = ErrorNumberFromErrno(error);
  switch (number) {
    case err::FileNotFound:
      return RuntimeError(number, "File not found: " + file.string());
    case err::PermissionDenied:
      return RuntimeError(number, "Permission denied: " + file.string());
    default:
      return RuntimeError(
          number, "Path/File access error: " + file.string() + " (" + ErrnoText(error) + ")");
  }
}

// Throws unless `file` is a regular file whose bytes can be read.
void RequireReadableFile(const fs::path& file) {
  std::error_code error;
  const fs::file_status status = fs::status(file, error);
  if (error) throw FileError(error.value(), file);
  if (!fs::is_regular_file(status)) throw FileError(EISDIR, file);
  std::ifstream in(file, std::ios::binary);
  char byte = 0;
  if (!in || (!in.read(&byte, 1) && !in.eof())) throw FileError(errno ? errno : EACCES, file);
}

// The digest of the file's bytes, in hex, and their number, from one reading.
std::optional<std::pair<std::string, std::uintmax_t>> DigestOfFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  Sha256Stream stream;
  std::vector<char> buffer(1 << 16);
  std::uintmax_t size = 0;
  while (in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    stream.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
    size += static_cast<std::uintmax_t>(in.gcount());
  }
  if (in.bad()) return std::nullopt;
  return std::pair(Sha256Hex(stream.Final()), size);
}

// `when` as a stamp, broken down by `breakDown` (localtime_r or gmtime_r).
std::string StampText(std::time_t when, std::tm* (*breakDown)(const std::time_t*, std::tm*)) {
  std::tm parts{};
  breakDown(&when, &parts);
  char text[32];
  std::strftime(text, sizeof text, kStampFormat, &parts);
  return text;
}

// How machines compare a published version with the installed one (CopyMode Normal installs
// when it is newer, SkipIfSame when it is not the same).
int CompareAsMachines(std::string_view published, std::string_view installed) {
  return CompareVersions(NormalizeVersion(published, ""), NormalizeVersion(installed, ""));
}

}  // namespace

std::string FileNameOfPath(std::string_view path) {
  const std::size_t last = path.find_last_of("/\\");
  return std::string(last == std::string_view::npos ? path : path.substr(last + 1));
}

bool IsUpdaterFileName(std::string_view name) {
  return EqualsIgnoreCase(name, "Tandor") || EqualsIgnoreCase(name, "Tandor.exe");
}

UploadName ChooseUploadName(std::string_view fileName, bool substituteChecked) {
  if (substituteChecked || IsUpdaterFileName(fileName)) return {SubstituteName(fileName), true};
  return {std::string(fileName), false};
}

std::string RemotePath(std::string_view serverFolder, std::string_view name) {
  return std::string(serverFolder) + "/" + std::string(name);
}

std::string VersionStamp(const fs::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) throw FileError(errno, file);
  return StampText(info.st_mtim.tv_sec, localtime_r);
}

std::optional<std::string> StampAfter(std::string_view stamp) {
  const std::string given(stamp);
  std::tm when{};
  const char* end = strptime(given.c_str(), kStampFormat, &when);
  if (!end || *end != '\0') return std::nullopt;
  // Counted in UTC, where no day lacks an hour or has one twice: the text moves on by a second.
  const std::time_t at = timegm(&when);
  // A text that does not read back as it was written is no stamp (a 31st of February).
  if (StampText(at, gmtime_r) != given) return std::nullopt;
  std::string later = StampText(at + 1, gmtime_r);
  if (later.size() != given.size()) return std::nullopt;  // past the year 9999
  return later;
}

PickedVersions ReadPickedVersions(const fs::path& file, VersionInfoQuery& query) {
  RequireReadableFile(file);
  PickedVersions versions{GetFileVersion(file),
                          query.QueryFileVersionInfo(file.string()).ProductVersion};
  versions.FileStamped = versions.FileVersion.empty();
  versions.ProductStamped = versions.ProductVersion.empty();
  if (versions.FileStamped || versions.ProductStamped) {
    const std::string stamp = VersionStamp(file);
    if (versions.FileStamped) versions.FileVersion = stamp;
    if (versions.ProductStamped) versions.ProductVersion = stamp;
  }
  if (const auto digest = DigestOfFile(file)) std::tie(versions.Sha256, versions.Size) = *digest;
  return versions;
}

std::optional<std::string> SettleVersions(PickedVersions& picked, const ListedVersions& listed,
                                          std::string_view shown) {
  const std::string file(shown);
  if (!listed.Sha256.empty() && EqualsIgnoreCase(listed.Sha256, picked.Sha256)) {
    // A later touch or a copy of the same bytes would make every machine fetch them again.
    if (picked.FileStamped && !listed.FileVersion.empty()) picked.FileVersion = listed.FileVersion;
    if (picked.ProductStamped && !listed.ProductVersion.empty())
      picked.ProductVersion = listed.ProductVersion;
    return std::nullopt;
  }
  if (!picked.FileStamped && !picked.ProductStamped) {
    if (!listed.Sha256.empty() && CompareAsMachines(picked.FileVersion, listed.FileVersion) == 0 &&
        CompareAsMachines(picked.ProductVersion, listed.ProductVersion) == 0)
      return file + ": other bytes than its entry lists, but the same File Version " +
             picked.FileVersion + " and Product Version " + picked.ProductVersion +
             ": machines would keep the old file; raise the version in its version resource";
    return std::nullopt;
  }
  std::string stamp = picked.FileStamped ? picked.FileVersion : picked.ProductVersion;
  const std::pair<bool, const std::string*> fields[] = {
      {picked.FileStamped, &listed.FileVersion}, {picked.ProductStamped, &listed.ProductVersion}};
  for (const auto& [stamped, version] : fields) {
    if (!stamped || version->empty() || CompareAsMachines(stamp, *version) > 0) continue;
    const std::optional<std::string> later = StampAfter(*version);
    if (!later)
      return file + ": has no version resource, and its entry lists the version " + *version +
             ", which machines rank above its time stamp " + stamp +
             ": they would keep the old file; give the file a version resource";
    stamp = *later;
  }
  if (picked.FileStamped) picked.FileVersion = stamp;
  if (picked.ProductStamped) picked.ProductVersion = stamp;
  return std::nullopt;
}

std::string EntryText(std::string_view fileName, const PickedVersions& versions,
                      const EntryChoices& choices) {
  const std::string name(fileName);
  const auto flag = [](bool on) { return std::string(on ? "1" : ""); };
  const std::string lines[] = {
      "[File]",
      "Key=" + name,
      "FileName=" + name,
      "RealName=" + name,
      "Server Path=" + choices.ServerPath,
      "Local Path=" + choices.LocalPath,
      "File Version=" + versions.FileVersion,
      "Product Version=" + versions.ProductVersion,
      "Register=" + std::string(choices.Register ? "$(DLLSelfRegister)" : ""),
      "CopyMode=" + choices.CopyMode,
      "Execute=" + flag(choices.Execute),
      "Execute Option=" + choices.ExecuteOption,
      "Wait=" + flag(choices.Wait),
      "Extract=" + flag(choices.Extract),
      "Extract To=" + (choices.Extract ? choices.LocalPath : std::string()),
  };
  std::string text;
  for (const std::string& line : lines) {
    if (!text.empty()) text += kLineEnd;
    text += line;
  }
  // The update pass checks the download against it before the file replaces the installed one.
  if (!versions.Sha256.empty()) {
    text += kLineEnd;
    text += "SHA256=" + versions.Sha256;
    text += kLineEnd;
    text += "Size=" + std::to_string(versions.Size);
  }
  return text;
}

std::string VersionLines(const PickedVersions& versions) {
  return "File Version=" + versions.FileVersion + kLineEnd +
         "Product Version=" + versions.ProductVersion;
}

std::string ProductOfFolder(std::string_view serverFolder) {
  while (serverFolder.ends_with('/')) serverFolder.remove_suffix(1);
  return FileNameOfPath(serverFolder);
}

EditorLayout LayoutForClientArea(int innerWidth, int innerHeight) {
  constexpr int kIniTop = 2085;
  constexpr int kBarHeight = 225;
  constexpr int kMargin = 120;
  EditorLayout layout;
  layout.IniHeight = std::max(0, innerHeight - kIniTop - kBarHeight - kMargin);
  layout.IniWidth = std::max(0, innerWidth - kMargin);
  layout.BarWidth = layout.IniWidth;
  layout.BarTop = kIniTop + layout.IniHeight + 60;
  return layout;
}

Publisher::Publisher(fs::path editCopy, std::string manifestName, CodePage codePage,
                     FtpEvents events)
    : mEditCopy(std::move(editCopy)),
      mManifestName(std::move(manifestName)),
      mCodePage(codePage),
      mEvents(std::move(events)) {}

Publisher::~Publisher() = default;

void Publisher::SignWith(const fs::path& secretKey) {
  mSigningKeys.clear();
  if (!secretKey.empty()) mSigningKeys.push_back(secretKey);
}

std::optional<std::pair<fs::path, SigningKeyState>> Publisher::CheckSigningKeys() const {
  for (const fs::path& key : mSigningKeys) {
    if (IsSecretKeyShared(key)) return std::pair(key, SigningKeyState::Shared);
    if (!SignatureOf(key, "")) return std::pair(key, SigningKeyState::Unusable);
  }
  return std::nullopt;
}

std::optional<std::string> Publisher::SignatureOf(const fs::path& key, std::string_view bytes) {
  if (IsSecretKeyShared(key)) return std::nullopt;
  if (const std::optional<std::string> secret = ReadWholeFile(key))
    return SignDetached(bytes, *secret);
  return std::nullopt;
}

ManifestToSave Publisher::PrepareForSave(std::string_view serverFolder,
                                         std::string_view text) const {
  if (mSigningKeys.empty() && !mStampUnsigned) return {std::string(text), {}};
  std::optional<std::string> raised = RaiseSerial(text);
  if (!raised)
    return {std::nullopt, msg::SerialNotANumber(), ManifestToSave::Why::SerialNotANumber};
  if (FilesValue(*raised, "Product").empty()) {
    const std::string product = ProductOfFolder(serverFolder);
    if (product.empty())
      return {std::nullopt, msg::ProductUnknown(), ManifestToSave::Why::ProductUnknown};
    raised = NameProduct(*raised, product);
  }
  if (mSigningKeys.empty()) return {*raised, {}};
  SigningStamp stamp = mStamp;
  stamp.Now = std::time(nullptr);
  // A key that cannot be read names no signer; the save then fails on it.
  for (const fs::path& key : mSigningKeys) {
    const std::optional<std::string> secret = ReadWholeFile(key);
    if (const std::optional<std::string> signer = secret ? PublicKeyOf(*secret) : std::nullopt)
      stamp.Signers.push_back(*signer);
  }
  if (stamp.Signers.empty() && !stamp.ExpiresDays && stamp.NextKey.empty() &&
      stamp.RevokeKey.empty())
    return {*raised, {}};
  return {StampSigning(*raised, stamp), {}};
}

void Publisher::UseFolder(const ServerFields& server, std::string_view serverFolder) {
  FtpFolderOptions options;
  options.ServerCodePage = mCodePage;
  options.Events = mEvents;
  mFolder = std::make_unique<FtpFolder>(server, std::string(serverFolder), options);
}

std::optional<std::string> Publisher::Connect(const ServerFields& server,
                                              std::string_view serverFolder) {
  UseFolder(server, serverFolder);
  return mFolder->Open();
}

void Publisher::Disconnect() {
  if (mFolder) mFolder->Close();
}

SearchOutcome Publisher::Search(const ServerFields& server, std::string_view serverFolder) {
  if (auto failure = Connect(server, serverFolder)) {
    Disconnect();
    return {SearchOutcome::Kind::ConnectionFailed, *failure};
  }
  SearchOutcome outcome;
  try {
    std::error_code error;
    fs::remove(mEditCopy, error);
    if (error) throw FileError(error.value(), mEditCopy);
    // Whether the download worked shows in the edit copy: it exists only when complete.
    mFolder->Client().FTPDownloadFile(mEditCopy, RemotePath(serverFolder, mManifestName));
    const std::optional<std::string> bytes = ReadWholeFile(mEditCopy);
    if (!bytes) throw FileError(errno, mEditCopy);
    outcome = {SearchOutcome::Kind::Loaded, mCodePage.ToUtf8(*bytes)};
  } catch (const RuntimeError& error) {
    outcome = {SearchOutcome::Kind::Failed, error.Description()};
  }
  Disconnect();
  return outcome;
}

std::optional<std::string> Publisher::Save(const ServerFields& server,
                                           std::string_view serverFolder, std::string_view text) {
  UseFolder(server, serverFolder);  // connected only once the edit copy is written
  const std::optional<SaveFailure> failure = Save(*mFolder, text);
  Disconnect();
  if (failure) return failure->Text;
  return std::nullopt;
}

std::optional<SaveFailure> Publisher::Save(Destination& destination, std::string_view text) {
  const std::string bytes = mCodePage.FromUtf8(text);
  std::optional<std::string> signature;
  // Signed before anything is written: a key that fails leaves the server as it was.
  for (const fs::path& key : mSigningKeys) {
    if (IsSecretKeyShared(key)) return SaveFailure{msg::SigningKeyShared(key.string())};
    const std::optional<std::string> line = SignatureOf(key, bytes);
    if (!line) return SaveFailure{msg::SigningKeyUnusable(key.string())};
    signature = signature.value_or("") + *line + "\n";
  }
  fs::path signatureCopy = mEditCopy;
  signatureCopy += ".sig";
  const auto cannotWrite = [](const fs::path& file) {
    return "Path/File access error: " + file.string() + " cannot be written";
  };
  if (!WriteFileAtomically(mEditCopy, bytes)) return SaveFailure{cannotWrite(mEditCopy)};
  if (signature && !WriteFileAtomically(signatureCopy, *signature))
    return SaveFailure{cannotWrite(signatureCopy)};
  if (std::optional<std::string> failure = destination.Open()) return SaveFailure{*failure};
  if (std::optional<std::string> failure = destination.Put(mEditCopy, mManifestName))
    return SaveFailure{*failure};
  if (!signature) return std::nullopt;
  if (std::optional<std::string> failure = destination.Put(signatureCopy, mManifestName + ".sig"))
    return SaveFailure{*failure, true};
  return std::nullopt;
}

std::optional<std::string> Publisher::Upload(const ServerFields& server,
                                             std::string_view serverFolder, const fs::path& local,
                                             std::string_view uploadName) {
  std::optional<std::string> failure = Connect(server, serverFolder);
  if (!failure) failure = mFolder->Put(local, uploadName);
  Disconnect();
  return failure;
}

}  // namespace tandor
