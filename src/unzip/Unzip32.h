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

  // Stores the options for the next RunUnzip. `text` and `counterStart` have no effect on the
  // extraction. An existing file is always replaced without asking, whatever
  // `promptBeforeOverwrite` and `overwrite` say, because the replace question is answered "yes"
  // every time. With an empty `targetFolder` the archive is only listed.
  void SetUnzipOptions(const std::filesystem::path& zipFile,
                       const std::filesystem::path& targetFolder, const UnzipNameList& include,
                       const UnzipNameList& exclude, const std::string& text,
                       std::int32_t counterStart, std::int16_t promptBeforeOverwrite,
                       std::int16_t overwrite, std::int16_t listContents,
                       std::int16_t recreateFolders);

  // Extracts (or lists) with the options set last; returns the status code (UnzipStatus.h).
  std::int32_t RunUnzip();

  // The password request for one entry: 0 with the password in `buffer` (cut to `size` - 1
  // bytes), or 1 for "no password". An empty answer sets the skip flag, and from then on every
  // request is answered 1 without asking.
  int AskPassword(std::string& buffer, std::size_t size);

  bool PasswordSkipped() const { return mSkipPassword; }

 private:
  PasswordQuestion mQuestion;
  CodePage mCodePage;
  FreeSpaceSource mFreeSpace;
  std::filesystem::path mZipFile;
  std::filesystem::path mTargetFolder;
  UnzipNameList mInclude;
  UnzipNameList mExclude;
  std::int16_t mPromptBeforeOverwrite = 0;
  std::int16_t mOverwrite = 0;
  std::int16_t mListContents = 0;
  std::int16_t mShowComment = 0;
  std::int16_t mRecreateFolders = 0;
  bool mSkipPassword = false;
};

}  // namespace tandor
