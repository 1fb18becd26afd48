#pragma once
// The machine's ANSI code page: text inside the program is UTF-8, files are in this code page.

#include <cstddef>
#include <string>
#include <string_view>

namespace tandor {

class CodePage {
 public:
  static constexpr int Utf8 = 65001;

  CodePage() = default;
  explicit CodePage(int number) : mNumber(number) {}

  int Number() const { return mNumber; }
  bool IsUtf8() const { return mNumber == Utf8; }

  // File bytes to UTF-8. Bytes that are not valid in the code page become U+FFFD, never an
  // exception, so bad input always has a defined result.
  std::string ToUtf8(std::string_view bytes) const;
  // UTF-8 to file bytes. Characters the code page lacks become '?'.
  std::string FromUtf8(std::string_view text) const;

  // Length of the longest prefix of `bytes` (in this code page) that fits in `limit` bytes
  // without splitting a character.
  std::size_t CutPoint(std::string_view bytes, std::size_t limit) const;
  // True when `byte` starts a two-byte character in a double-byte code page.
  bool IsLeadByte(unsigned char byte) const;

 private:
  int mNumber = Utf8;
};

// iconv's name for a Windows code page number ("CP949", "UTF-8", ...).
std::string IconvName(int codePage);

}  // namespace tandor
