#pragma once
// The zip binding the update window extracts archives with. One object lives for the whole
// update run: it keeps the options of the last SetUnzipOptions call and the password skip flag.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/CodePage.h"
#include "unzip/ZipExtraction.h"

namespace tandor {

// A list of entry names or wildcard patterns; the names before the first empty one count.
struct UnzipNameList {
  std::array<std::string, 100> Names{};
};

// What the next RunUnzip does. The defaults are what the update pass asks for.
struct UnzipOptions {
  std::filesystem::path ZipFile{};
  std::filesystem::path TargetFolder{};  // empty: the archive is only listed
  UnzipNameList Include{};               // no names: every entry
  UnzipNameList Exclude{};
  std::string Text{};             // no effect on the extraction
  std::int32_t CounterStart = 1;  // no effect on the extraction
  // An existing file is always replaced without asking, whatever these two say, because the
  // replace question is answered "yes" every time.
  bool PromptBeforeOverwrite = false;
  bool Overwrite = true;
  bool ListContents = true;  // counts only without a target folder
  bool RecreateFolders = true;
  // Told each file's place before the extraction replaces it; false fails that file.
  std::function<bool(const std::filesystem::path&)> BeforeReplace{};
};

// Shows the password question with `prompt` and returns what the user typed; an empty answer
// (nothing typed, or the question cancelled) means "no password".
using PasswordQuestion = std::function<std::string(const std::string& prompt)>;

class Unzip32 {
 public:
  static constexpr const char* PasswordPrompt = "Please Enter The Password!";
  // The password buffer of the library: a password keeps at most size - 1 bytes.
  static constexpr std::size_t PasswordBufferSize = 81;

  // `nameCodePage` is the machine's ANSI code page: names the archive does not flag as UTF-8 and
  // the password are in it. `freeSpace` tells the room left on the target's disk (statvfs when
  // empty).
  explicit Unzip32(PasswordQuestion question, CodePage nameCodePage = CodePage(),
                   FreeSpaceSource freeSpace = {});

  // Stores the options for the next RunUnzip.
  void SetUnzipOptions(const UnzipOptions& options);

  // Extracts (or lists) with the options set last; returns the status code (UnzipStatus.h).
  std::int32_t RunUnzip();

  // The password request for one entry: 0 with the password in `buffer` (cut to `size` - 1
  // bytes), or 1 for "no password". An empty answer sets the skip flag, and from then on every
  // request is answered 1 without asking.
  int AskPassword(std::string& buffer, std::size_t size);

  bool PasswordSkipped() const { return mSkipPassword; }
  // Set when the last RunUnzip wrote nothing because the archive would not fit on the disk.
  const std::optional<SpaceShortage>& LastShortage() const { return mLastShortage; }
  // The links the last RunUnzip refused because they lead out of the target folder.
  const std::vector<std::string>& LastRefusedLinks() const { return mLastRefusedLinks; }

 private:
  PasswordQuestion mQuestion;
  CodePage mCodePage;
  FreeSpaceSource mFreeSpace;
  UnzipOptions mOptions;
  bool mSkipPassword = false;
  std::optional<SpaceShortage> mLastShortage;
  std::vector<std::string> mLastRefusedLinks;
};

}  // namespace tandor
