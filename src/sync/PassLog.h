#pragma once
// Err.log: one line per reported event of the latest update pass, in the machine's ANSI code
// page, each line on disk as soon as it is written.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/CodePage.h"

namespace tandor {

class PassLog {
 public:
  PassLog(std::filesystem::path file, CodePage codePage);

  // Replaces the file by an empty one and keeps it open. False when it cannot be created; the
  // lines of the pass are then only shown, not kept.
  bool Create();
  // Opens the existing file again for appending (after it was closed for the reboot prompt).
  bool Reopen();
  // Writes the text and CR LF, and flushes. Does nothing while the log is closed.
  void WriteLine(const std::string& text);
  void Close();
  bool IsOpen() const { return static_cast<bool>(mFile); }

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  bool Open(const char* mode);

  std::filesystem::path mPath;
  CodePage mCodePage;
  std::unique_ptr<std::FILE, Closer> mFile;
};

}  // namespace tandor
