#include "unzip/Unzip32.h"

#include <optional>
#include <utility>
#include <vector>

namespace tandor {

namespace {

std::vector<std::string> CountedNames(const UnzipNameList& list) {
  std::vector<std::string> names;
  for (const std::string& name : list.Names) {
    if (name.empty()) break;
    names.push_back(name);
  }
  return names;
}

}  // namespace

Unzip32::Unzip32(PasswordQuestion question, CodePage nameCodePage, FreeSpaceSource freeSpace)
    : mQuestion(std::move(question)), mCodePage(nameCodePage), mFreeSpace(std::move(freeSpace)) {}

void Unzip32::SetUnzipOptions(const UnzipOptions& options) {
  mOptions = options;
}

std::int32_t Unzip32::RunUnzip() {
  ZipJob job;
  job.Archive = mOptions.ZipFile;
  job.Target = mOptions.TargetFolder;
  job.Include = CountedNames(mOptions.Include);
  job.Exclude = CountedNames(mOptions.Exclude);
  job.ListOnly = mOptions.TargetFolder.empty() && mOptions.ListContents;
  job.KeepFolders = mOptions.RecreateFolders;
  job.NameCodePage = mCodePage;
  job.FreeSpace = mFreeSpace;
  job.BeforeReplace = mOptions.BeforeReplace;
  const ZipOutcome outcome = RunZipJob(job, [this]() -> std::optional<std::string> {
    std::string password;
    if (AskPassword(password, PasswordBufferSize) != 0) return std::nullopt;
    return password;
  });
  mLastShortage = outcome.Shortage;
  mLastRefusedLinks = outcome.RefusedLinks;
  return outcome.Status;
}

int Unzip32::AskPassword(std::string& buffer, std::size_t size) {
  buffer.clear();
  if (mSkipPassword) return 1;
  const std::string answer = mQuestion ? mQuestion(PasswordPrompt) : std::string();
  if (answer.empty()) {
    mSkipPassword = true;
    return 1;
  }
  const std::string bytes = mCodePage.FromUtf8(answer);
  buffer = bytes.substr(0, mCodePage.CutPoint(bytes, size > 0 ? size - 1 : 0));
  return 0;
}

}  // namespace tandor
