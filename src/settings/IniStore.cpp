#include "settings/IniStore.h"
#include "text/TextCase.h"

#include <sys/stat.h>

#include <deque>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/FileIo.h"

namespace tandor {

namespace fs = std::filesystem;

namespace {

// A stored value is cut here, as a 1024-byte buffer with its terminating NUL would cut it.
constexpr std::size_t kValueLimit = 1023;
constexpr std::string_view kLineEnd = "\r\n";
// How long a look at the file on disk stays good. File times move in clock ticks of a few
// milliseconds, so a same-size rewrite within that time cannot be told from the stamp anyway;
// looking less often keeps a system call off every read of a key.
constexpr auto kRevalidateAfter = std::chrono::milliseconds(2);

// Identity of a file's content on disk; a change of any part means the file was replaced or
// written since we parsed it.
struct Stamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long modifiedNs = 0;
  long long changedNs = 0;

  bool operator==(const Stamp&) const = default;
};

Stamp StampOf(const fs::path& file) {
  struct stat info {};
  Stamp stamp;
  if (::stat(file.c_str(), &info) != 0) return stamp;
  stamp.exists = true;
  stamp.device = info.st_dev;
  stamp.inode = info.st_ino;
  stamp.size = info.st_size;
  stamp.modifiedNs = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
  stamp.changedNs = info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec;
  return stamp;
}

struct Line {
  std::string_view text;  // into the file's bytes, or into the entry's own storage once written
  std::string_view end;   // "\r\n", "\n", "\r" or "" for a last line without one
};

struct Section {
  std::vector<Line> lines;      // the header first (none for the lines before the first section)
  std::size_t lastKeyLine = 0;  // a new key goes after this line
  bool hasHeader = false;
};

std::string_view LineEndAt(std::string_view bytes, std::size_t pos) {
  if (bytes[pos] == '\r') return pos + 1 < bytes.size() && bytes[pos + 1] == '\n' ? "\r\n" : "\r";
  return "\n";
}

}  // namespace

// The parsed form of one file: its lines grouped by section, every byte kept so that a write
// changes only the line it must. Lines point into the file's bytes; written lines live in
// `written`, whose elements never move.
struct IniStore::Entry {
  fs::path file;
  std::string bytes;
  std::deque<std::string> written;
  std::vector<Section> sections;  // sections[0] holds the lines before the first header
  std::unordered_map<std::string, std::size_t> index;  // folded section name -> first section
  Stamp stamp;
  bool parsed = false;
  bool dirty = false;
  bool writeBehind = false;
  std::chrono::milliseconds interval{0};
  std::chrono::steady_clock::time_point lastSave{};
  std::chrono::steady_clock::time_point validatedAt{};

  std::string_view Keep(std::string text) { return written.emplace_back(std::move(text)); }
};

namespace {

// Names compare without regard to the case of ASCII letters, in the file's encoding; the trail
// byte of a double-byte character is never folded, since it may look like a letter.
class Names {
 public:
  explicit Names(const CodePage& codePage) : mCodePage(codePage) {}

  std::string Fold(std::string_view name) const {
    std::string folded(name);
    for (std::size_t i = 0; i < folded.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(folded[i]);
      if (mCodePage.IsLeadByte(c))
        ++i;
      else
        folded[i] = LowerAscii(folded[i]);
    }
    return folded;
  }

  // `folded` must come from Fold().
  bool Equal(std::string_view name, std::string_view folded) const {
    if (name.size() != folded.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(name[i]);
      if (mCodePage.IsLeadByte(c)) {
        if (name[i] != folded[i] || (i + 1 < name.size() && name[i + 1] != folded[i + 1]))
          return false;
        ++i;
        continue;
      }
      if (LowerAscii(name[i]) != folded[i]) return false;
    }
    return true;
  }

  // The name inside "[...]": up to the first "]" that is not the trail byte of a double-byte
  // character, or the rest of the line when there is none.
  std::string_view SectionName(std::string_view trimmed) const {
    std::string_view inner = trimmed.substr(1);
    for (std::size_t i = 0; i < inner.size(); ++i) {
      if (mCodePage.IsLeadByte(static_cast<unsigned char>(inner[i]))) {
        ++i;
        continue;
      }
      if (inner[i] == ']') return Trim(inner.substr(0, i));
    }
    return Trim(inner);
  }

 private:
  const CodePage& mCodePage;
};

// The trimmed name of a key line, or nothing for a line that holds no key.
std::optional<std::string_view> KeyName(std::string_view line) {
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view name = Trim(line.substr(0, eq));
  if (name.empty()) return std::nullopt;
  return name;
}

// The first line of `section` whose key is `folded`.
std::optional<std::size_t> FindKey(const Section& section, std::string_view folded,
                                   const Names& names) {
  for (std::size_t i = section.hasHeader ? 1 : 0; i < section.lines.size(); ++i) {
    auto name = KeyName(section.lines[i].text);
    if (name && names.Equal(*name, folded)) return i;
  }
  return std::nullopt;
}

// The value part of a key line: trimmed, without enclosing quotes, up to a NUL.
std::string_view ValueOf(std::string_view line) {
  std::string_view value = Trim(line.substr(line.find('=') + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  if (std::size_t nul = value.find('\0'); nul != std::string_view::npos)
    value = value.substr(0, nul);
  return value;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

IniStore::IniStore(CodePage codePage, Clock clock)
    : mCodePage(codePage), mClock(std::move(clock)) {}

IniStore::~IniStore() {
  Flush();
}

std::chrono::steady_clock::time_point IniStore::Now() const {
  return mClock ? mClock() : std::chrono::steady_clock::now();
}

IniStore::Entry* IniStore::Load(const fs::path& file) {
  auto& slot = mFiles[file.native()];
  if (!slot) {
    slot = std::make_unique<Entry>();
    slot->file = file;
  }
  Entry& entry = *slot;
  // Pending writes are newer than whatever is on disk.
  if (entry.dirty) return &entry;
  const auto now = Now();
  if (entry.parsed && now - entry.validatedAt < kRevalidateAfter) return &entry;
  entry.validatedAt = now;
  Stamp stamp = StampOf(file);
  if (entry.parsed && stamp == entry.stamp) return &entry;

  entry.sections.clear();
  entry.index.clear();
  entry.written.clear();
  entry.bytes.clear();
  entry.sections.emplace_back();
  entry.stamp = stamp;
  entry.parsed = true;
  if (stamp.exists) entry.bytes = ReadWholeFile(file).value_or(std::string());

  Names names(mCodePage);
  std::string_view all(entry.bytes);
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t stop = all.find_first_of("\r\n", start);
    std::string_view text =
        all.substr(start, stop == std::string_view::npos ? all.size() - start : stop - start);
    std::string_view end = stop == std::string_view::npos ? "" : LineEndAt(all, stop);
    start = stop == std::string_view::npos ? all.size() : stop + end.size();

    std::string_view parsed = text;
    // A byte-order mark before the first line is no part of it; the line keeps it on disk.
    if (text.data() == all.data() && parsed.starts_with(kUtf8Bom))
      parsed.remove_prefix(kUtf8Bom.size());
    std::string_view trimmed = Trim(parsed);
    if (!trimmed.empty() && trimmed.front() == '[') {
      Section& section = entry.sections.emplace_back();
      section.lines.push_back(Line{text, end});
      section.hasHeader = true;
      entry.index.emplace(names.Fold(names.SectionName(trimmed)), entry.sections.size() - 1);
      continue;
    }
    Section& section = entry.sections.back();
    section.lines.push_back(Line{text, end});
    if (KeyName(text)) section.lastKeyLine = section.lines.size() - 1;
  }
  return &entry;
}

std::string IniStore::Read(std::string_view section, std::string_view key, const fs::path& file) {
  Entry* entry = Load(file);
  Names names(mCodePage);
  auto found = entry->index.find(names.Fold(mCodePage.FromUtf8(Trim(section))));
  if (found == entry->index.end()) return {};
  const Section& where = entry->sections[found->second];
  auto line = FindKey(where, names.Fold(mCodePage.FromUtf8(Trim(key))), names);
  if (!line) return {};
  std::string_view value = ValueOf(where.lines[*line].text);
  value = value.substr(0, mCodePage.CutPoint(value, kValueLimit));
  return mCodePage.ToUtf8(value);
}

bool IniStore::HasSection(std::string_view section, const fs::path& file) {
  Entry* entry = Load(file);
  Names names(mCodePage);
  return entry->index.contains(names.Fold(mCodePage.FromUtf8(Trim(section))));
}

void IniStore::Write(std::string_view section, std::string_view key, std::string_view value,
                     const fs::path& file) {
  if (Entry* entry = Store(section, key, value, file)) SaveWhenDue(*entry);
}

void IniStore::Write(std::string_view section, std::initializer_list<KeyValue> values,
                     const fs::path& file) {
  Entry* changed = nullptr;
  for (const KeyValue& value : values)
    if (Entry* entry = Store(section, value.first, value.second, file)) changed = entry;
  if (changed) SaveWhenDue(*changed);
}

void IniStore::SaveWhenDue(Entry& entry) {
  if (!entry.writeBehind || Now() - entry.lastSave >= entry.interval) Save(entry);
}

IniStore::Entry* IniStore::Store(std::string_view section, std::string_view key,
                                 std::string_view value, const fs::path& file) {
  std::string_view name = Trim(section);
  std::string_view keyName = Trim(key);
  // A name that would break the file's structure is refused rather than written.
  if (name.empty() || keyName.empty() || HasLineBreak(name) || HasLineBreak(keyName) ||
      keyName.find('=') != std::string_view::npos || name.find(']') != std::string_view::npos)
    return nullptr;
  // A value ends at its first line break: the rest could only be taken for other keys.
  value = value.substr(0, value.find_first_of("\r\n"));

  Entry* entry = Load(file);
  Names names(mCodePage);
  const std::string encodedName = mCodePage.FromUtf8(name);
  const std::string encodedKey = mCodePage.FromUtf8(keyName);
  const std::string encodedValue = mCodePage.FromUtf8(value);

  auto found = entry->index.find(names.Fold(encodedName));
  if (found == entry->index.end()) {
    // A new section goes at the end; the last line gets the line end it may lack.
    Section& last = entry->sections.back();
    if (!last.lines.empty() && last.lines.back().end.empty()) last.lines.back().end = kLineEnd;
    Section& added = entry->sections.emplace_back();
    added.hasHeader = true;
    added.lines.push_back(Line{entry->Keep("[" + encodedName + "]"), kLineEnd});
    added.lines.push_back(Line{entry->Keep(encodedKey + "=" + encodedValue), kLineEnd});
    added.lastKeyLine = 1;
    entry->index.emplace(names.Fold(encodedName), entry->sections.size() - 1);
  } else {
    Section& where = entry->sections[found->second];
    if (auto line = FindKey(where, names.Fold(encodedKey), names)) {
      Line& stored = where.lines[*line];
      if (ValueOf(stored.text) == encodedValue) return nullptr;
      stored.text = entry->Keep(std::string(*KeyName(stored.text)) + "=" + encodedValue);
      stored.end = kLineEnd;
    } else {
      std::size_t at = where.lastKeyLine + 1;
      if (where.lines[at - 1].end.empty()) where.lines[at - 1].end = kLineEnd;
      where.lines.insert(where.lines.begin() + static_cast<std::ptrdiff_t>(at),
                         Line{entry->Keep(encodedKey + "=" + encodedValue), kLineEnd});
      where.lastKeyLine = at;
    }
  }
  entry->dirty = true;
  return entry;
}

void IniStore::Save(Entry& entry) {
  entry.dirty = false;
  entry.lastSave = Now();
  struct stat info {};
  bool exists = ::stat(entry.file.c_str(), &info) == 0;
  // A file without any write permission is read-only: writes to it are ignored.
  bool writable = !exists || (S_ISREG(info.st_mode) && (info.st_mode & 0222) != 0);
  std::string bytes;
  if (writable) {
    for (const Section& section : entry.sections)
      for (const Line& line : section.lines) {
        bytes += line.text;
        bytes += line.end;
      }
  }
  if (writable && WriteFileAtomically(entry.file, bytes)) {
    ++mDiskWrites;
    entry.stamp = StampOf(entry.file);
    entry.validatedAt = Now();
  } else {
    // The write is lost, as a failed write is; the next read sees the file as it is on disk.
    entry.parsed = false;
  }
}

void IniStore::SetWriteBehind(const fs::path& file, std::chrono::milliseconds interval) {
  Entry* entry = Load(file);
  entry->writeBehind = true;
  entry->interval = interval;
  entry->lastSave = Now();
}

void IniStore::Forget(const fs::path& file) {
  auto found = mFiles.find(file.native());
  if (found == mFiles.end()) return;
  if (found->second->dirty) Save(*found->second);
  found->second->parsed = false;
}

void IniStore::FlushDue() {
  const auto now = Now();
  for (auto& [path, entry] : mFiles)
    if (entry->dirty && now - entry->lastSave >= entry->interval) Save(*entry);
}

void IniStore::Flush() {
  for (auto& [path, entry] : mFiles)
    if (entry->dirty) Save(*entry);
}

}  // namespace tandor
