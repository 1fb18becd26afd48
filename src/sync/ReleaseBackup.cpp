#include "sync/ReleaseBackup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "platform/Error.h"
#include "platform/FileDescriptor.h"
#include "platform/FileIo.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// A second name for `from` (a link is copied as a link): a hard link, or where the file system
// has none between the two places, a copy that holds the same bytes.
void LinkOrCopy(const fs::path& from, const fs::path& to, bool isLink, std::error_code& ec) {
  if (isLink)
    fs::copy_symlink(from, to, ec);
  else if (::link(from.c_str(), to.c_str()) != 0)
    fs::copy_file(from, to, ec);
}

constexpr std::pair<ReleaseBackup::State, const char*> kStates[] = {
    {ReleaseBackup::State::Installing, "Installing"},
    {ReleaseBackup::State::HandedOver, "HandedOver"},
    {ReleaseBackup::State::Verifying, "Verifying"},
    {ReleaseBackup::State::RollingBack, "RollingBack"},
};

const char* StateName(ReleaseBackup::State state) {
  for (const auto& [value, name] : kStates)
    if (value == state) return name;
  return "";
}

ReleaseBackup::State StateNamed(const std::string& text) {
  for (const auto& [value, name] : kStates)
    if (text == name) return value;
  return ReleaseBackup::State::None;
}

// A release names a folder of its own: digits, letters and '-' only.
bool IsReleaseName(const std::string& release) {
  return !release.empty() && std::all_of(release.begin(), release.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
  });
}

// One line per file: '\' and line ends in a path are escaped, so that any name fits on a line.
std::string Escape(const std::string& path) {
  std::string text;
  for (char c : path) {
    if (c == '\\')
      text += "\\\\";
    else if (c == '\n')
      text += "\\n";
    else
      text += c;
  }
  return text;
}

std::string Unescape(const std::string& text) {
  std::string path;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      path += text[++i] == 'n' ? '\n' : text[i];
    } else {
      path += text[i];
    }
  }
  return path;
}

struct KeptFile {
  std::string Name;  // "-": the file did not exist
  fs::path Target;
};

// The complete lines of the list: one cut short by a crash names a file not yet touched.
std::vector<KeptFile> ReadKept(const fs::path& list) {
  std::vector<KeptFile> kept;
  const std::string text = ReadWholeFile(list).value_or("");
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    kept.push_back({line.substr(0, tab), Unescape(line.substr(tab + 1))});
  }
  return kept;
}

[[noreturn]] void Fail(const std::string& what, const fs::path& file, int error) {
  throw RuntimeError(ErrorNumberFromErrno(error),
                     what + " " + file.string() + ": " + ErrnoText(error), error);
}

}  // namespace

ReleaseBackup::ReleaseBackup(fs::path folder, fs::path record, PlaceCheck mayWrite)
    : mFolder(std::move(folder)), mRecord(std::move(record)), mMayWrite(std::move(mayWrite)) {
  Load();
}

fs::path ReleaseBackup::ReleaseFolder() const {
  return mFolder / mRelease;
}

void ReleaseBackup::Load() {
  const std::optional<std::string> text = ReadWholeFile(JournalFile());
  if (!text) return;
  for (std::size_t at = 0, end; (end = text->find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::string line = text->substr(at, end - at);
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "State") mState = StateNamed(value);
    if (key == "Release") mRelease = value;
    if (key == "Record") mHadRecord = value == "1";
    if (key == "Refusal") mRefusal = value;
  }
  // A journal that names no release of ours points at nothing this program kept.
  if (!IsReleaseName(mRelease)) mState = State::None;
}

void ReleaseBackup::WriteJournal() const {
  std::error_code ec;
  fs::create_directories(mFolder, ec);
  // Whatever put a link here would have the backup written, and emptied, elsewhere.
  if (fs::is_symlink(mFolder, ec)) Fail("will not use the link", mFolder, ELOOP);
  const std::string text = std::string("State=") + StateName(mState) + "\r\nRelease=" + mRelease +
                           "\r\nRecord=" + (mHadRecord ? "1" : "0") + "\r\nRefusal=" + mRefusal +
                           "\r\n";
  if (!WriteFileAtomically(JournalFile(), text)) Fail("cannot write", JournalFile(), errno);
}

void ReleaseBackup::Begin(const std::string& release) {
  mRelease = release;
  std::error_code ec;
  if (fs::is_symlink(mFolder, ec)) Fail("will not use the link", mFolder, ELOOP);
  fs::remove_all(ReleaseFolder(), ec);  // what an earlier install of the same release kept
  if (!fs::create_directories(ReleaseFolder(), ec) && !fs::is_directory(ReleaseFolder()))
    Fail("cannot create", ReleaseFolder(), ec.value());
  const std::optional<std::string> record = ReadWholeFile(mRecord);
  mHadRecord = record.has_value();
  if (record && !WriteFileAtomically(ReleaseFolder() / "Version.ini", *record))
    Fail("cannot keep", mRecord, errno);
  mKept.clear();
  mNextName = 0;
  mState = State::Installing;
  try {
    WriteJournal();
  } catch (const RuntimeError&) {
    mState = State::None;
    throw;
  }
}

void ReleaseBackup::Resume() {
  for (const KeptFile& file : ReadKept(KeptList())) {
    mKept.insert(file.Target);
    if (file.Name != "-") mNextName = std::max(mNextName, std::atoi(file.Name.c_str()) + 1);
  }
  SetState(State::Installing);
}

void ReleaseBackup::Note(const std::string& name, const fs::path& target) const {
  const std::string line = name + "\t" + Escape(target.string()) + "\n";
  FileDescriptor fd(::open(KeptList().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  // A pass that dies leaves what it wrote with the system: the line is there for the next pass.
  if (fd.Get() < 0 || ::write(fd.Get(), line.data(), line.size()) != std::ssize(line))
    Fail("cannot write", KeptList(), errno);
}

void ReleaseBackup::Keep(const fs::path& target) {
  if (mState != State::Installing || mKept.contains(target)) return;
  struct stat info {};
  if (::lstat(target.c_str(), &info) != 0) {
    if (errno != ENOENT) Fail("cannot keep", target, errno);
    Note("-", target);
    mKept.insert(target);
    return;
  }
  if (S_ISDIR(info.st_mode)) return;
  const std::string name = std::to_string(mNextName++);
  const fs::path kept = ReleaseFolder() / name;
  std::error_code ec;
  fs::remove(kept, ec);  // one a dead pass linked without noting it
  LinkOrCopy(target, kept, S_ISLNK(info.st_mode), ec);
  if (ec) Fail("cannot keep", target, ec.value());
  Note(name, target);
  mKept.insert(target);
}

void ReleaseBackup::SetState(State state, const std::string& refusal) {
  mState = state;
  mRefusal = refusal;
  WriteJournal();
}

void ReleaseBackup::PutBack(const fs::path& kept, const fs::path& target) const {
  struct stat info {};
  if (::lstat(kept.c_str(), &info) != 0) Fail("cannot read", kept, errno);
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  SiblingFile temporary(target);
  LinkOrCopy(kept, temporary.Path(), S_ISLNK(info.st_mode), ec);
  if (ec) Fail("cannot put back", target, ec.value());
  // The file is put back the way it was replaced: whole, under its name, in one rename.
  if (::rename(temporary.Path().c_str(), target.c_str()) != 0)
    Fail("cannot put back", target, errno);
}

bool ReleaseBackup::Undo(std::string& problem) {
  problem.clear();
  std::vector<KeptFile> kept = ReadKept(KeptList());
  for (auto file = kept.rbegin(); file != kept.rend(); ++file) {
    // A list this program wrote names only places the install could write.
    if (!mMayWrite(file->Target)) continue;
    try {
      if (file->Name != "-") {
        PutBack(ReleaseFolder() / file->Name, file->Target);
        continue;
      }
      struct stat info {};
      if (::lstat(file->Target.c_str(), &info) == 0 && !S_ISDIR(info.st_mode) &&
          ::unlink(file->Target.c_str()) != 0)
        Fail("cannot remove", file->Target, errno);
    } catch (const RuntimeError& error) {
      if (problem.empty()) problem = error.Description();
    }
  }
  std::error_code ec;
  if (!mHadRecord) {
    fs::remove(mRecord, ec);
  } else if (const auto record = ReadWholeFile(ReleaseFolder() / "Version.ini");
             !record || !WriteFileAtomically(mRecord, *record)) {
    if (problem.empty()) problem = "cannot put back " + mRecord.string();
  }
  if (!problem.empty()) return false;
  fs::remove(JournalFile(), ec);
  fs::remove_all(ReleaseFolder(), ec);
  mState = State::None;
  return true;
}

void ReleaseBackup::Commit() {
  std::error_code ec;
  fs::remove(JournalFile(), ec);
  mState = State::None;
  std::vector<fs::path> older;
  for (const auto& entry : fs::directory_iterator(mFolder, ec))
    if (const std::string name = entry.path().filename(); name != mRelease && IsReleaseName(name))
      older.push_back(entry.path());
  for (const fs::path& folder : older) fs::remove_all(folder, ec);
}

}  // namespace tandor
