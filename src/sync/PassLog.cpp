#include "sync/PassLog.h"

namespace tandor {

PassLog::PassLog(std::filesystem::path file, CodePage codePage)
    : mPath(std::move(file)), mCodePage(codePage) {}

bool PassLog::Open(const char* mode) {
  mFile.reset(std::fopen(mPath.c_str(), mode));
  return IsOpen();
}

bool PassLog::Create() {
  return Open("wbe");
}

bool PassLog::Reopen() {
  return Open("abe");
}

void PassLog::WriteLine(const std::string& text) {
  if (!mFile) return;
  const std::string bytes = mCodePage.FromUtf8(text) + "\r\n";
  std::fwrite(bytes.data(), 1, bytes.size(), mFile.get());
  std::fflush(mFile.get());
}

void PassLog::Close() {
  mFile.reset();
}

}  // namespace tandor
