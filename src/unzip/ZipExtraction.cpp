#include "unzip/ZipExtraction.h"

#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "platform/FileIo.h"
#include "unzip/ArchiveHandles.h"
#include "unzip/EntryPath.h"
#include "unzip/UnzipStatus.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kReadBlockSize = 256 * 1024;

// No ARCHIVE_EXTRACT_SECURE_SYMLINKS: it opens every folder from the root down for every file,
// which made extraction slower than Info-ZIP's. CheckFolders looks at the part of the path that
// an archive can make, below the target folder.
constexpr int kWriteFlags = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT;

// What the entry says its data inflates to. libarchive reports the local header's size, or the
// central directory's when the local header leaves it to a trailing descriptor.
std::uint64_t DeclaredSize(archive_entry* entry) {
  if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0) return 0;
  return static_cast<std::uint64_t>(archive_entry_size(entry));
}

struct EntryResult {
  std::int32_t Status = unzipstatus::Ok;
  bool PasswordSkipped = false;
};

class ZipRun {
 public:
  ZipRun(const ZipJob& job, const PassphraseSource& passphrase)
      : mJob(job), mPassphrase(passphrase) {}

  std::int32_t Run();
  const std::optional<SpaceShortage>& Shortage() const { return mShortage; }
  const std::vector<std::string>& RefusedLinks() const { return mRefusedLinks; }

 private:
  bool OpenReader();
  bool ReopenReaderAfter(std::size_t entries);
  bool OpenWriter();
  std::int32_t ListEntries();
  bool FitsOnDisk();
  std::int32_t ExtractEntries();
  bool Selected(const std::string& name) const;
  EntryResult ExtractEntry(archive_entry* entry, const fs::path& relative);
  EntryResult WriteRegularFile(archive_entry* entry, const fs::path& destination);
  EntryResult WriteInPlace(archive_entry* entry, const fs::path& destination);
  EntryResult CopyData(std::uint64_t declared);
  EntryResult ReadFailure(int code);
  std::int32_t WriteFailure(int code);
  std::int32_t CheckFolders(const fs::path& relative) const;
  bool LinkStaysInside(archive_entry* entry, const fs::path& destination);
  const char* NextPassphrase();

  static const char* OnPassphrase(archive*, void* self) {
    return static_cast<ZipRun*>(self)->NextPassphrase();
  }

  const ZipJob& mJob;
  const PassphraseSource& mPassphrase;
  ArchiveReader mReader;
  ArchiveWriter mWriter;
  fs::path mTarget;
  // Every password the user gave in this run; a new reader must know them too.
  std::vector<std::string> mPasswords;
  bool mAskedForEntry = false;
  bool mPasswordRefused = false;
  bool mReaderBroken = false;
  bool mWriterBroken = false;
  // The folders below the target whose leftovers this run has swept.
  std::set<std::string> mSwept;
  std::optional<SpaceShortage> mShortage;
  std::vector<std::string> mRefusedLinks;
};

std::int32_t ZipRun::Run() {
  Utf8ThreadLocale utf8Names;
  if (!OpenReader()) return unzipstatus::NoZip;
  // An empty target folder only lists: never extract into whatever the current folder is.
  if (mJob.ListOnly || mJob.Target.empty()) return ListEntries();
  if (!OpenWriter()) return unzipstatus::DiskError;
  if (!FitsOnDisk()) return unzipstatus::DiskError;
  if (!ReopenReaderAfter(0)) return unzipstatus::NoZip;
  return ExtractEntries();
}

bool ZipRun::OpenReader() {
  // An empty name would make libarchive read standard input.
  if (mJob.Archive.empty()) return false;
  mReader.reset(archive_read_new());
  if (!mReader) return false;
  // Only the seekable reader: it starts from the central directory at the end of the archive, so
  // an archive whose end is cut off is refused at once. The streaming reader would extract such
  // an archive entry by entry and report no error at all.
  archive_read_support_format_zip_seekable(mReader.get());
  archive_read_set_passphrase_callback(mReader.get(), this, &ZipRun::OnPassphrase);
  return archive_read_open_filename(mReader.get(), mJob.Archive.c_str(), kReadBlockSize) ==
         ARCHIVE_OK;
}

bool ZipRun::ReopenReaderAfter(std::size_t entries) {
  mReaderBroken = false;
  if (!OpenReader()) return false;
  for (const std::string& password : mPasswords) {
    archive_read_add_passphrase(mReader.get(), password.c_str());
  }
  for (std::size_t i = 0; i < entries; ++i) {
    archive_entry* entry = nullptr;
    if (archive_read_next_header(mReader.get(), &entry) < ARCHIVE_FAILED) return false;
  }
  return true;
}

bool ZipRun::OpenWriter() {
  // Symlinks and ".." above the target folder are the user's own business: resolve them once, as
  // the writer refuses any ".." in a path.
  std::error_code error;
  const fs::path absolute = fs::absolute(mJob.Target, error);
  mTarget = fs::weakly_canonical(absolute, error);
  if (error) mTarget = absolute.lexically_normal();
  mWriter.reset(archive_write_disk_new());
  return mWriter && archive_write_disk_set_options(mWriter.get(), kWriteFlags) == ARCHIVE_OK;
}

std::int32_t ZipRun::ListEntries() {
  std::size_t entries = 0;
  for (;;) {
    archive_entry* entry = nullptr;
    const int code = archive_read_next_header(mReader.get(), &entry);
    if (code == ARCHIVE_EOF) break;
    if (code < ARCHIVE_FAILED) return unzipstatus::SevereError;
    ++entries;
  }
  return entries == 0 ? unzipstatus::Warning : unzipstatus::Ok;
}

// Reads every header (no data, so no password question) and adds up what the selected files
// declare. Damaged headers count as nothing here; the extraction reports them.
bool ZipRun::FitsOnDisk() {
  std::uint64_t declared = 0;
  for (;;) {
    archive_entry* entry = nullptr;
    const int code = archive_read_next_header(mReader.get(), &entry);
    if (code == ARCHIVE_EOF || code < ARCHIVE_FAILED) break;
    const char* stored = archive_entry_pathname(entry);
    if (code == ARCHIVE_FAILED || stored == nullptr || archive_entry_filetype(entry) != AE_IFREG ||
        !Selected(EntryNameToUtf8(stored, mJob.NameCodePage))) {
      continue;
    }
    declared += std::min(DeclaredSize(entry), UINT64_MAX - declared);
  }
  const std::uint64_t available =
      mJob.FreeSpace ? mJob.FreeSpace(mTarget) : AvailableSpace(mTarget);
  const std::uint64_t margin = FreeSpaceMarginOf(mTarget);
  if (declared <= available && available - declared >= margin) return true;
  mShortage = SpaceShortage{declared, available, margin};
  return false;
}

std::int32_t ZipRun::ExtractEntries() {
  std::int32_t worst = unzipstatus::Ok;
  std::size_t entries = 0;
  std::size_t files = 0;
  std::size_t skippedForPassword = 0;
  while (!mWriterBroken) {
    // Damaged data leaves the reader unusable; read on from the next entry with a new one.
    if (mReaderBroken && !ReopenReaderAfter(entries)) {
      worst = std::max(worst, unzipstatus::SevereError);
      break;
    }
    mAskedForEntry = false;
    mPasswordRefused = false;
    archive_entry* entry = nullptr;
    const int code = archive_read_next_header(mReader.get(), &entry);
    if (code == ARCHIVE_EOF) break;
    if (code < ARCHIVE_FAILED) {
      worst = std::max(worst, unzipstatus::SevereError);
      break;
    }
    ++entries;
    const char* stored = archive_entry_pathname(entry);
    if (code == ARCHIVE_FAILED || stored == nullptr) {
      worst = std::max(worst, unzipstatus::EntryError);
      continue;
    }
    const std::string name = EntryNameToUtf8(stored, mJob.NameCodePage);
    const bool isFolder = archive_entry_filetype(entry) == AE_IFDIR;
    if (!Selected(name) || (isFolder && !mJob.KeepFolders)) continue;
    if (archive_entry_filetype(entry) == AE_IFREG) ++files;
    const auto relative = RelativeEntryPath(name, mJob.KeepFolders);
    const EntryResult result =
        relative ? ExtractEntry(entry, *relative) : EntryResult{unzipstatus::EntryError, false};
    if (result.PasswordSkipped) ++skippedForPassword;
    worst = std::max(worst, result.Status);
  }
  // Closing sets the times of the folders, which had to wait until their files were in.
  if (archive_write_close(mWriter.get()) != ARCHIVE_OK) {
    worst = std::max(worst, unzipstatus::DiskError);
  }
  if (entries == 0) return std::max(worst, unzipstatus::Warning);
  if (skippedForPassword > 0 && worst <= unzipstatus::Warning) {
    worst = skippedForPassword == files ? unzipstatus::BadPassword : unzipstatus::Warning;
  }
  return worst;
}

bool ZipRun::Selected(const std::string& name) const {
  auto matches = [&name](const std::string& pattern) { return EntryNameMatches(pattern, name); };
  const bool included = mJob.Include.empty() || std::ranges::any_of(mJob.Include, matches);
  return included && std::ranges::none_of(mJob.Exclude, matches);
}

EntryResult ZipRun::ExtractEntry(archive_entry* entry, const fs::path& relative) {
  if (const std::int32_t folders = CheckFolders(relative); folders != unzipstatus::Ok) {
    return {folders, false};
  }
  const fs::path destination = mTarget / relative;
  switch (archive_entry_filetype(entry)) {
    case AE_IFREG:
      return WriteRegularFile(entry, destination);
    case AE_IFDIR:
      return WriteInPlace(entry, destination);
    case AE_IFLNK:
      if (!LinkStaysInside(entry, destination)) return {unzipstatus::EntryError, false};
      if (mJob.BeforeReplace && !mJob.BeforeReplace(destination))
        return {unzipstatus::DiskError, false};
      return WriteInPlace(entry, destination);
    default:
      // Devices, pipes and sockets have no business in an update.
      return {unzipstatus::EntryError, false};
  }
}

EntryResult ZipRun::WriteRegularFile(archive_entry* entry, const fs::path& destination) {
  // A run that was killed leaves its staging file beside the member it was writing; the pass
  // sweeps only the folders it knows of, so the archive's own folders are swept here, once each.
  const fs::path folder = destination.parent_path();
  if (folder != mTarget && mSwept.insert(folder.native()).second) RemoveStaleTemporaries(folder);
  const fs::path staging = TemporarySibling(destination);
  archive_entry_copy_pathname(entry, staging.c_str());
  const int header = archive_write_header(mWriter.get(), entry);
  if (header < ARCHIVE_WARN) return {WriteFailure(header), false};
  EntryResult result = CopyData(DeclaredSize(entry));
  const int finish = archive_write_finish_entry(mWriter.get());
  if (result.Status == unzipstatus::Ok && finish < ARCHIVE_WARN)
    result.Status = WriteFailure(finish);
  if (result.Status == unzipstatus::Ok && mJob.BeforeReplace && !mJob.BeforeReplace(destination))
    result.Status = unzipstatus::DiskError;
  // rename() replaces the old file's name, not its contents: a program still running from the
  // old file keeps it, and a file the user holds open never sees a mix of old and new.
  if (result.Status == unzipstatus::Ok && ::rename(staging.c_str(), destination.c_str()) != 0) {
    result.Status = unzipstatus::DiskError;
  }
  if (result.Status != unzipstatus::Ok) ::unlink(staging.c_str());
  ForgetTemporary(staging);
  return result;
}

EntryResult ZipRun::WriteInPlace(archive_entry* entry, const fs::path& destination) {
  archive_entry_copy_pathname(entry, destination.c_str());
  const int header = archive_write_header(mWriter.get(), entry);
  if (header < ARCHIVE_WARN) return {WriteFailure(header), false};
  const int finish = archive_write_finish_entry(mWriter.get());
  if (finish < ARCHIVE_WARN) return {WriteFailure(finish), false};
  return {};
}

// Writes no byte past `declared`: an entry whose data runs on is damaged or hostile, and the free
// space was checked against the declared sizes only.
EntryResult ZipRun::CopyData(std::uint64_t declared) {
  for (;;) {
    const void* block = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    const int read = archive_read_data_block(mReader.get(), &block, &size, &offset);
    if (read == ARCHIVE_EOF) return {};
    // A bad CRC comes as a warning together with the last block: the entry is damaged all the
    // same.
    if (read != ARCHIVE_OK) return ReadFailure(read);
    if (offset < 0 || size > declared || static_cast<std::uint64_t>(offset) > declared - size)
      return {unzipstatus::EntryError, false};
    const la_ssize_t written = archive_write_data_block(mWriter.get(), block, size, offset);
    if (written < ARCHIVE_OK) return {WriteFailure(static_cast<int>(written)), false};
  }
}

EntryResult ZipRun::ReadFailure(int code) {
  if (code == ARCHIVE_FATAL) mReaderBroken = true;
  // ZipCrypto checks a password against one byte: a wrong one gets past that check once in 256
  // and fails later, in the data. An entry that needed the user's answer and does not read is
  // taken as one whose password was wrong.
  if (mPasswordRefused || mAskedForEntry) return {unzipstatus::Warning, true};
  return {unzipstatus::EntryError, false};
}

std::int32_t ZipRun::WriteFailure(int code) {
  if (code == ARCHIVE_FATAL) mWriterBroken = true;
  return unzipstatus::DiskError;
}

// A link is made only when what it points at, with the links already there resolved, lies in
// the target folder: one that leads out would carry a later write (of this archive or of anything
// that writes there afterwards) out of it.
bool ZipRun::LinkStaysInside(archive_entry* entry, const fs::path& destination) {
  const char* to = archive_entry_symlink(entry);
  const fs::path pointed = to ? fs::path(to) : fs::path();
  std::error_code ec;
  const fs::path resolved = fs::weakly_canonical(destination.parent_path() / pointed, ec);
  if (!pointed.empty() && !ec) {
    const fs::path relative = resolved.lexically_relative(fs::weakly_canonical(mTarget, ec));
    if (!ec && !relative.empty() && *relative.begin() != "..") return true;
  }
  mRefusedLinks.push_back(destination.lexically_relative(mTarget).string() + " -> " +
                          pointed.string());
  return false;
}

// Left alone, the writer would follow a symlink that an earlier entry made (out of the target
// folder) and would delete a file that stands where a folder must go.
std::int32_t ZipRun::CheckFolders(const fs::path& relative) const {
  // The target folder, then every folder that the entry's name passes through.
  std::vector<fs::path> folders{mTarget};
  for (auto part = relative.begin(); std::next(part) != relative.end(); ++part) {
    folders.push_back(folders.back() / *part);
  }
  for (const fs::path& folder : folders) {
    struct stat info {};
    // A missing folder is created by the writer, and so is everything below it.
    if (::lstat(folder.c_str(), &info) != 0) return unzipstatus::Ok;
    if (S_ISDIR(info.st_mode)) continue;
    // The target folder is resolved already: only the archive's own entries can be links here.
    return S_ISLNK(info.st_mode) ? unzipstatus::EntryError : unzipstatus::DiskError;
  }
  return unzipstatus::Ok;
}

// libarchive asks again for as long as the answers are wrong; the user answers once per entry.
const char* ZipRun::NextPassphrase() {
  if (mAskedForEntry || !mPassphrase) {
    mPasswordRefused = true;
    return nullptr;
  }
  mAskedForEntry = true;
  std::optional<std::string> answer;
  try {
    answer = mPassphrase();
  } catch (...) {
    // Nothing may unwind through libarchive; a question that fails skips the entry.
  }
  if (!answer) {
    mPasswordRefused = true;
    return nullptr;
  }
  mPasswords.push_back(std::move(*answer));
  // libarchive copies the text before it asks anything else.
  return mPasswords.back().c_str();
}

}  // namespace

ZipOutcome RunZipJob(const ZipJob& job, const PassphraseSource& passphrase) {
  ZipRun run(job, passphrase);
  const std::int32_t status = run.Run();
  return {status, run.Shortage(), run.RefusedLinks()};
}

}  // namespace tandor
