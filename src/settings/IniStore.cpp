#include "settings/IniStore.h"

#include <sys/stat.h>

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

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

void LowerAscii(std::string& text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

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
  std::string text;
  std::string_view end;  // "\r\n", "\n", "\r" or "" for a last line without one
};

struct Section {
  std::vector<Line> lines;  // the header first (none for the lines before the first section)
  std::unordered_map<std::string, std::size_t> keys;  // folded key name -> line, first wins
  std::size_t lastKeyLine = 0;                        // where a new key goes after
};

std::string_view LineEndAt(std::string_view bytes, std::size_t pos) {
  if (bytes[pos] == '\r') return pos + 1 < bytes.size() && bytes[pos + 1] == '\n' ? "\r\n" : "\r";
  return "\n";
}

}  // namespace

// The parsed form of one file: its lines grouped by section, every byte kept so that a write
// changes only the line it must.
struct IniStore::Entry {
  fs::path file;
  std::vector<Section> sections;  // sections[0] holds the lines before the first header
  std::unordered_map<std::string, std::size_t> index;  // folded section name -> first section
  Stamp stamp;
  bool parsed = false;
  bool dirty = false;
  bool writeBehind = false;
  std::chrono::milliseconds interval{0};
  std::chrono::steady_clock::time_point lastSave{};
};

namespace {

class Parser {
 public:
  explicit Parser(const CodePage& codePage) : mCodePage(codePage) {}

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

  std::string Fold(std::string_view name) const {
    std::string folded = mCodePage.ToUtf8(name);
    LowerAscii(folded);
    return folded;
  }

 private:
  const CodePage& mCodePage;
};

void AddLine(Section& section, std::string_view text, std::string_view end, const Parser& parser) {
  section.lines.push_back(Line{std::string(text), end});
  std::size_t lineIndex = section.lines.size() - 1;
  std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return;
  std::string_view name = Trim(text.substr(0, eq));
  if (name.empty()) return;
  section.keys.emplace(parser.Fold(name), lineIndex);
  section.lastKeyLine = lineIndex;
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

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

IniStore::IniStore(CodePage codePage, Clock clock)
    : mCodePage(codePage), mClock(std::move(clock)) {}

IniStore::~IniStore() { Flush(); }

std::chrono::steady_clock::time_point IniStore::Now() const {
  return mClock ? mClock() : std::chrono::steady_clock::now();
}

IniStore::Entry* IniStore::Load(const fs::path& file) {
  auto& slot = mFiles[file];
  if (!slot) {
    slot = std::make_unique<Entry>();
    slot->file = file;
  }
  Entry& entry = *slot;
  // Pending writes are newer than whatever is on disk.
  if (entry.dirty) return &entry;
  Stamp stamp = StampOf(file);
  if (entry.parsed && stamp == entry.stamp) return &entry;

  entry.sections.clear();
  entry.index.clear();
  entry.sections.emplace_back();
  entry.stamp = stamp;
  entry.parsed = true;
  std::optional<std::string> bytes = stamp.exists ? ReadWholeFile(file) : std::nullopt;
  if (!bytes) return &entry;

  Parser parser(mCodePage);
  std::string_view all(*bytes);
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t stop = all.find_first_of("\r\n", start);
    std::string_view text = all.substr(start, stop == std::string_view::npos ? all.size() - start
                                                                             : stop - start);
    std::string_view end = stop == std::string_view::npos ? "" : LineEndAt(all, stop);
    start = stop == std::string_view::npos ? all.size() : stop + end.size();

    std::string_view trimmed = Trim(text);
    if (!trimmed.empty() && trimmed.front() == '[') {
      Section section;
      section.lines.push_back(Line{std::string(text), end});
      entry.sections.push_back(std::move(section));
      entry.index.emplace(parser.Fold(parser.SectionName(trimmed)), entry.sections.size() - 1);
      continue;
    }
    AddLine(entry.sections.back(), text, end, parser);
  }
  return &entry;
}

std::string IniStore::Read(std::string_view section, std::string_view key, const fs::path& file) {
  Entry* entry = Load(file);
  Parser parser(mCodePage);
  auto found = entry->index.find(parser.Fold(mCodePage.FromUtf8(Trim(section))));
  if (found == entry->index.end()) return {};
  const Section& where = entry->sections[found->second];
  auto line = where.keys.find(parser.Fold(mCodePage.FromUtf8(Trim(key))));
  if (line == where.keys.end()) return {};
  std::string_view value = ValueOf(where.lines[line->second].text);
  value = value.substr(0, mCodePage.CutPoint(value, kValueLimit));
  return mCodePage.ToUtf8(value);
}

void IniStore::Write(std::string_view section, std::string_view key, std::string_view value,
                     const fs::path& file) {
  std::string_view name = Trim(section);
  std::string_view keyName = Trim(key);
  // A name that would break the file's structure is refused rather than written.
  if (name.empty() || keyName.empty() || HasLineBreak(name) || HasLineBreak(keyName) ||
      keyName.find('=') != std::string_view::npos || name.find(']') != std::string_view::npos)
    return;
  // A value ends at its first line break: the rest could only be taken for other keys.
  value = value.substr(0, value.find_first_of("\r\n"));

  Entry* entry = Load(file);
  Parser parser(mCodePage);
  const std::string encodedValue = mCodePage.FromUtf8(value);
  const std::string encodedKey = mCodePage.FromUtf8(keyName);

  auto found = entry->index.find(parser.Fold(mCodePage.FromUtf8(name)));
  if (found == entry->index.end()) {
    // A new section goes at the end; the last line gets the line end it may lack.
    Section& last = entry->sections.back();
    if (!last.lines.empty() && last.lines.back().end.empty()) last.lines.back().end = kLineEnd;
    Section added;
    added.lines.push_back(Line{"[" + mCodePage.FromUtf8(name) + "]", kLineEnd});
    entry->sections.push_back(std::move(added));
    entry->index.emplace(parser.Fold(mCodePage.FromUtf8(name)), entry->sections.size() - 1);
    AddLine(entry->sections.back(), encodedKey + "=" + encodedValue, kLineEnd, parser);
  } else {
    Section& where = entry->sections[found->second];
    auto line = where.keys.find(parser.Fold(encodedKey));
    if (line != where.keys.end()) {
      Line& stored = where.lines[line->second];
      if (ValueOf(stored.text) == encodedValue) return;
      std::string storedName(Trim(std::string_view(stored.text).substr(0, stored.text.find('='))));
      stored.text = storedName + "=" + encodedValue;
      stored.end = kLineEnd;
    } else {
      std::size_t at = where.lastKeyLine + 1;
      if (where.lines[at - 1].end.empty()) where.lines[at - 1].end = kLineEnd;
      where.lines.insert(where.lines.begin() + static_cast<std::ptrdiff_t>(at),
                         Line{encodedKey + "=" + encodedValue, kLineEnd});
      where.keys.emplace(parser.Fold(encodedKey), at);
      where.lastKeyLine = at;
    }
  }
  entry->dirty = true;
  if (!entry->writeBehind || Now() - entry->lastSave >= entry->interval) Save(*entry);
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

void IniStore::Flush() {
  for (auto& [path, entry] : mFiles)
    if (entry->dirty) Save(*entry);
}

}  // namespace tandor
