#pragma once
// The publisher's work without any window: the text of a new entry, the names a file is
// uploaded under, the edit copy of the manifest and the server operations behind Search, Save
// and Upload. frmVersion puts its controls on top of this.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "manifest/ManifestRules.h"
#include "manifest/SigningStamp.h"
#include "platform/CodePage.h"
#include "publisher/Destination.h"
#include "transfer/TransferEvents.h"

namespace tandor {

class VersionInfoQuery;

// What the window's fields and check boxes say about a new entry.
struct EntryChoices {
  std::string ServerPath;
  std::string LocalPath;
  std::string CopyMode;
  std::string ExecuteOption;
  bool Register = false;
  bool Execute = false;
  bool Wait = false;
  bool Extract = false;
};

// The two versions written for a picked file.
struct PickedVersions {
  std::string FileVersion;
  std::string ProductVersion;
  std::string Sha256 = {};  // of the file's bytes, in hex; no SHA256 line when empty
  std::uintmax_t Size = 0;  // the number of bytes Sha256 is of
  // The file has no such version of its own: a VersionStamp stands in for it.
  bool FileStamped = false;
  bool ProductStamped = false;
};

// What a manifest entry lists of the file it names.
struct ListedVersions {
  std::string FileVersion;
  std::string ProductVersion;
  std::string Sha256;  // empty when the entry has none
};

// The part of a path after its last "/" or "\".
std::string FileNameOfPath(std::string_view path);

// True for the updater's own file names, "Tandor" and "Tandor.exe", in any capitals: such a
// file must never land on the server under its real name, where a running updater would
// replace itself with it half-way.
bool IsUpdaterFileName(std::string_view name);

struct UploadName {
  std::string Name;
  bool Substituted = false;  // the substitute check box is to be cleared
};
UploadName ChooseUploadName(std::string_view fileName, bool substituteChecked);

// Folder + "/" + name, the folder used as typed (empty gives "/name", a trailing "/" doubles).
std::string RemotePath(std::string_view serverFolder, std::string_view name);

// The file's modification time in local time as "YYYY-MM-DD HH:MM:SS": it changes with the
// file's bytes, also when they are written over an existing file (its creation time would not).
// Throws RuntimeError when the file cannot be examined.
std::string VersionStamp(const std::filesystem::path& file);

// The stamp one second after `stamp`, counted on the calendar as written (a change of clocks
// between the two makes no difference); nothing when `stamp` is no such stamp.
std::optional<std::string> StampAfter(std::string_view stamp);

// File and product version of a picked file, the stamp standing in for either when the file has
// none, with the digest and size of its bytes. The window's Add and Version and tandor-publish
// all take a file's versions from here. Throws RuntimeError when the file cannot be read.
PickedVersions ReadPickedVersions(const std::filesystem::path& file, VersionInfoQuery& query);

// Makes the versions of `picked` ones that machines holding the file `listed` describes see as
// they should, or tells why there are none (naming the file as `shown`). The same bytes keep the
// stamps they were listed with. Other bytes get a stamp newer than the listed one (one second
// after it when the file's own is not newer, as when bytes were written over a file and its time
// put back), and a file whose own versions are the listed ones is refused: machines, comparing
// versions, would keep the old file.
std::optional<std::string> SettleVersions(PickedVersions& picked, const ListedVersions& listed,
                                          std::string_view shown);

// The lines of a new entry, joined by CR LF, with no line end after the last; with a digest,
// its SHA256= and Size= lines end it.
std::string EntryText(std::string_view fileName, const PickedVersions& versions,
                      const EntryChoices& choices);

// "File Version=" and "Product Version=" lines, joined by CR LF, no line end after them.
std::string VersionLines(const PickedVersions& versions);

// The product whose files a server folder holds: the folder's last part ("/Harrowin/Sample" ->
// "Sample"), a trailing "/" left aside; empty for the root.
std::string ProductOfFolder(std::string_view serverFolder);

// Places of the editor and the progress frame for a client area, all in twips.
struct EditorLayout {
  int IniWidth = 0;
  int IniHeight = 0;
  int BarWidth = 0;
  int BarTop = 0;
};
EditorLayout LayoutForClientArea(int innerWidth, int innerHeight);
// The smallest client area the window allows, in twips: the editor keeps a few lines and the
// buttons above it stay in view.
constexpr int MinClientWidth = 6435;
constexpr int MinClientHeight = 3600;

// Result of loading the server's manifest.
struct SearchOutcome {
  enum class Kind { Loaded, ConnectionFailed, Failed };
  Kind Result = Kind::Failed;
  std::string Text;  // the manifest text, or the reason it could not be had
};

// The manifest as Save is to write it, or why it cannot be saved.
struct ManifestToSave {
  enum class Why { None, SerialNotANumber, ProductUnknown };
  std::optional<std::string> Text;
  std::string Problem;  // when there is no text
  Why Reason = Why::None;
};

// Why a save into a destination failed.
struct SaveFailure {
  std::string Text;
  bool ManifestUp = false;  // the manifest went up all the same, its signature did not
};

// Whether the signing key can sign.
enum class SigningKeyState { Usable, Shared, Unusable };

// The server operations. Each opens a fresh connection with the fields as typed and closes it
// when it ends; progress and pending window messages go to `events`.
class Publisher {
 public:
  Publisher(std::filesystem::path editCopy, std::string manifestName, CodePage codePage,
            FtpEvents events);
  ~Publisher();
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;

  const std::filesystem::path& EditCopy() const { return mEditCopy; }
  // The secret key file (as tandor-sign keygen writes it) that Save signs the manifest with;
  // empty: the manifest goes unsigned.
  void SignWith(const std::filesystem::path& secretKey);
  // Several keys, one signature line each: machines that trust any of them take the manifest
  // (while a key is rolled over, machines that missed its announcement still trust the old one).
  void SignWith(std::vector<std::filesystem::path> secretKeys) {
    mSigningKeys = std::move(secretKeys);
  }
  // What a signed save writes of its expiry and of keys announced or revoked (its signers and
  // the time are filled in as it is prepared).
  void StampWith(SigningStamp stamp) { mStamp = std::move(stamp); }
  // Raise the serial and name the product of an unsigned manifest too, as a signed one is.
  void StampUnsigned(bool stamp) { mStampUnsigned = stamp; }
  // Whether each signing key set can sign; a key its group or others may read is refused. The
  // first key that cannot, and why; nothing when all can.
  std::optional<std::pair<std::filesystem::path, SigningKeyState>> CheckSigningKeys() const;

  // The numbered editor text as Save writes it. Unsigned and unstamped, it is the operator's text
  // as it is. Signed, its [Files] section gets a higher Serial= (machines refuse an older manifest)
  // and names its product, the last part of `serverFolder`, unless it names one already (machines
  // refuse a manifest signed for another product); its signers, expiry and announced keys are
  // written as the stamp says. No text, and why, when the serial is no number or no product can
  // be named.
  ManifestToSave PrepareForSave(std::string_view serverFolder, std::string_view text) const;
  // Replaces the edit copy with <folder>/<manifest> from the server and returns its text.
  SearchOutcome Search(const ServerFields& server, std::string_view serverFolder);
  // Writes `text` (as PrepareForSave made it) to the edit copy as it is and uploads it as the
  // folder's manifest; with a signing key, the signature follows as <manifest>.sig (written beside
  // the edit copy too); a key that its group or others may read signs nothing. Returns what went
  // wrong, nothing when the manifest is on the server.
  std::optional<std::string> Save(const ServerFields& server, std::string_view serverFolder,
                                  std::string_view text);
  // The same into any destination, opened here unless it is open already and left open.
  std::optional<SaveFailure> Save(Destination& destination, std::string_view text);
  // Uploads `local` as <folder>/<uploadName>. Returns what went wrong, nothing on success.
  std::optional<std::string> Upload(const ServerFields& server, std::string_view serverFolder,
                                    const std::filesystem::path& local,
                                    std::string_view uploadName);

 private:
  // A new, unconnected folder of the server in place of the last one.
  void UseFolder(const ServerFields& server, std::string_view serverFolder);
  // Opens a new connection to the folder in place of the last one; the reason when it fails.
  std::optional<std::string> Connect(const ServerFields& server, std::string_view serverFolder);
  void Disconnect();
  // The signature of `bytes` by `key`; nothing when the key cannot or must not sign.
  static std::optional<std::string> SignatureOf(const std::filesystem::path& key,
                                                std::string_view bytes);

  std::filesystem::path mEditCopy;
  std::vector<std::filesystem::path> mSigningKeys;
  SigningStamp mStamp;
  bool mStampUnsigned = false;
  std::string mManifestName;
  CodePage mCodePage;
  FtpEvents mEvents;
  std::unique_ptr<FtpFolder> mFolder;
};

}  // namespace tandor
