// Encrypted entries made with Info-ZIP zip -P: one question per entry that needs a password,
// the skip flag that lives as long as the Unzip32 object, and files left alone when the
// password is wrong.

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>

#include "support/TempDir.h"
#include "support/ZipTools.h"
#include "unzip/Unzip32.h"
#include "unzip/UnzipStatus.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

class UnzipPasswordTest : public ::testing::Test {
 protected:
  UnzipPasswordTest() {
    WriteFile(mTemp / "src" / "a.txt", "secret a");
    WriteFile(mTemp / "src" / "sub" / "b.txt", std::string(20000, 'b'));
    WriteFile(mTemp / "src" / "plain.txt", "plain");
  }

  // An archive of `files` from the src folder, encrypted with `password` unless it is empty.
  fs::path MakeArchive(const std::string& name, const std::vector<std::string>& files,
                       const std::string& password) {
    const fs::path archive = mTemp / name;
    std::vector<std::string> arguments{"-q"};
    if (!password.empty()) arguments.insert(arguments.end(), {"-P", password});
    arguments.push_back(archive.string());
    arguments.insert(arguments.end(), files.begin(), files.end());
    test::RunInfoZip(mTemp / "src", arguments);
    return archive;
  }

  std::int32_t Extract(const fs::path& archive, const fs::path& target) {
    mUnzip.SetUnzipOptions({.ZipFile = archive, .TargetFolder = target});
    return mUnzip.RunUnzip();
  }

  test::TempDir mTemp;
  std::deque<std::string> mAnswers;
  std::vector<std::string> mPrompts;
  Unzip32 mUnzip{[this](const std::string& prompt) {
    mPrompts.push_back(prompt);
    std::string answer;
    if (!mAnswers.empty()) {
      answer = mAnswers.front();
      mAnswers.pop_front();
    }
    return answer;
  }};
};

TEST_F(UnzipPasswordTest, OneAnswerOpensEveryEntryOfTheArchive) {
  const fs::path archive = MakeArchive("enc.zip", {"a.txt", "sub/b.txt"}, "s3cret");
  test::RunInfoZip(mTemp / "src", {"-q", archive.string(), "plain.txt"});
  mAnswers = {"s3cret"};

  ASSERT_EQ(Extract(archive, mTemp / "out"), unzipstatus::Ok);

  EXPECT_EQ(mPrompts, std::vector<std::string>{"Please Enter The Password!"});
  EXPECT_EQ(ReadFile(mTemp / "out" / "a.txt"), "secret a");
  EXPECT_EQ(ReadFile(mTemp / "out" / "sub" / "b.txt"), std::string(20000, 'b'));
  EXPECT_EQ(ReadFile(mTemp / "out" / "plain.txt"), "plain");
  EXPECT_FALSE(mUnzip.PasswordSkipped());
}

TEST_F(UnzipPasswordTest, AnEmptyAnswerSkipsEveryLaterQuestionOfTheRun) {
  const fs::path encrypted = MakeArchive("enc.zip", {"a.txt", "sub/b.txt"}, "s3cret");
  const fs::path mixed = MakeArchive("mixed.zip", {"plain.txt"}, "");
  test::RunInfoZip(mTemp / "src", {"-q", "-P", "other", mixed.string(), "a.txt"});

  EXPECT_EQ(Extract(encrypted, mTemp / "one"), unzipstatus::BadPassword);
  EXPECT_EQ(mPrompts.size(), 1u);
  EXPECT_TRUE(mUnzip.PasswordSkipped());
  EXPECT_FALSE(fs::exists(mTemp / "one" / "a.txt"));

  // The same object, later archives: never asked again.
  mAnswers = {"s3cret", "other"};
  EXPECT_EQ(Extract(encrypted, mTemp / "two"), unzipstatus::BadPassword);
  EXPECT_EQ(Extract(mixed, mTemp / "three"), unzipstatus::Warning);
  EXPECT_EQ(mPrompts.size(), 1u);
  EXPECT_EQ(ReadFile(mTemp / "three" / "plain.txt"), "plain");
  EXPECT_FALSE(fs::exists(mTemp / "three" / "a.txt"));
}

TEST_F(UnzipPasswordTest, AWrongPasswordLeavesTheExistingFileIntact) {
  const fs::path archive = MakeArchive("enc.zip", {"a.txt", "sub/b.txt"}, "s3cret");
  WriteFile(mTemp / "out" / "a.txt", "installed a");
  WriteFile(mTemp / "out" / "sub" / "b.txt", "installed b");
  mAnswers = {"wrong", "still wrong", "wrong again"};

  EXPECT_EQ(Extract(archive, mTemp / "out"), unzipstatus::BadPassword);

  // One question per entry, however often libarchive would like to ask again.
  EXPECT_EQ(mPrompts.size(), 2u);
  EXPECT_FALSE(mUnzip.PasswordSkipped());
  EXPECT_EQ(ReadFile(mTemp / "out" / "a.txt"), "installed a");
  EXPECT_EQ(ReadFile(mTemp / "out" / "sub" / "b.txt"), "installed b");
}

// The answer is cut to the library's password buffer (80 bytes) before it is used.
TEST_F(UnzipPasswordTest, LongAnswersAreCutToTheBuffer) {
  const std::string eighty(80, 'k');
  struct Case {
    const char* name;
    std::string archivePassword;
    std::string answer;
    std::int32_t status;
  };
  const Case cases[] = {
      {"longer answer", eighty, eighty + "tail", unzipstatus::Ok},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path archive =
        MakeArchive(std::string(c.name) + ".zip", {"a.txt"}, c.archivePassword);
    mAnswers = {c.answer};
    EXPECT_EQ(Extract(archive, mTemp / c.name), c.status);
  }
  std::string buffer;
  mAnswers = {"한글암호"};
  EXPECT_EQ(mUnzip.AskPassword(buffer, 8), 0);
  EXPECT_EQ(buffer, "한글") << "never half a character";
}

}  // namespace
}  // namespace tandor
