#pragma once
// Private-profile (INI) files: reading and writing keys with the semantics stored files rely on.
//
// Each file is parsed once and its parsed form reused until the file changes on disk or through
// this store; the disk is looked at again when a few milliseconds have passed since the last look.
// Every write replaces the file atomically (temporary file, then rename). Files marked write-behind
// keep their writes in memory and reach the disk at most once per interval and at every Flush(), so
// a pass that writes thousands of keys rewrites the file a few times.

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/CodePage.h"

namespace tandor {

class IniFile;

class IniStore {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  explicit IniStore(CodePage codePage, Clock clock = nullptr);
  ~IniStore();
  IniStore(const IniStore&) = delete;
  IniStore& operator=(const IniStore&) = delete;

  // The value of `key` in `section` of `file` (a native path), cut at 1023 bytes of the file's
  // encoding. Empty when the file, section or key is missing or anything fails.
  std::string Read(std::string_view section, std::string_view key,
                   const std::filesystem::path& file);
  // True when `file` has a section of that name.
  bool HasSection(std::string_view section, const std::filesystem::path& file);
  // Stores `value`, creating file, section and key as needed. Failures are ignored.
  void Write(std::string_view section, std::string_view key, std::string_view value,
             const std::filesystem::path& file);
  // Stores several keys of one section and writes the file once.
  using KeyValue = std::pair<std::string_view, std::string_view>;
  void Write(std::string_view section, std::initializer_list<KeyValue> values,
             const std::filesystem::path& file);

  // Keeps writes to `file` in memory, flushing them at most once per `interval`.
  void SetWriteBehind(const std::filesystem::path& file,
                      std::chrono::milliseconds interval = std::chrono::seconds(1));
  // Writes every pending change to disk now.
  void Flush();
  // Writes the pending changes whose interval has passed; for callers that wait a long time
  // between writes, so that a crash still loses at most one interval of them.
  void FlushDue();
  // Drops the parsed form of `file` (after saving its pending writes), so that the next read
  // parses it again: for callers that have just replaced the file by other means.
  void Forget(const std::filesystem::path& file);
  // Number of times a file was written to disk (for tests and benchmarks).
  long DiskWrites() const { return mDiskWrites; }

  const CodePage& Encoding() const { return mCodePage; }

 private:
  struct Entry;
  Entry* Load(const std::filesystem::path& file);
  // Changes the parsed form; the entry when anything changed.
  Entry* Store(std::string_view section, std::string_view key, std::string_view value,
               const std::filesystem::path& file);
  void SaveWhenDue(Entry& entry);
  void Save(Entry& entry);
  std::chrono::steady_clock::time_point Now() const;

  CodePage mCodePage;
  Clock mClock;
  std::unordered_map<std::string, std::unique_ptr<Entry>> mFiles;  // by native path
  long mDiskWrites = 0;
};

}  // namespace tandor
