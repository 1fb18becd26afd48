// Real archives (Python's zipfile, Info-ZIP zip) extracted over real folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/ZipTools.h"
#include "unzip/EntryPath.h"
#include "unzip/Unzip32.h"
#include "unzip/UnzipStatus.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using Tree = std::map<std::string, std::string>;  // path: bytes, "/" empty folder, "-> x" link
using namespace unzipstatus;

// A tree from alternating paths and contents.
Tree T(std::initializer_list<std::string> items) {
  Tree tree;
  for (auto it = items.begin(); it != items.end(); it += 2) tree[*it] = *std::next(it);
  return tree;
}

// Every file, link and empty folder below `root`, the targets of other rows left out.
Tree Files(const fs::path& root) {
  Tree tree;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != decltype(it)(); ++it) {
    const bool inner = it->is_directory() && !it->is_symlink() && !fs::is_empty(it->path());
    if (it->path().filename() == "target") it.disable_recursion_pending();
    if (it->path().filename() == "target" || inner) continue;
    tree[it->path().lexically_relative(root).string()] =
        it->is_symlink()     ? "-> " + fs::read_symlink(it->path()).string()
        : it->is_directory() ? "/"
                             : ReadFile(it->path());
  }
  return tree;
}

class UnzipTest : public ::testing::Test {
 protected:
  UnzipTest() {
    WriteFile(mTemp / "src" / "a.txt", "secret a");
    WriteFile(mTemp / "src" / "sub" / "b.txt", mB);
    WriteFile(mTemp / "src" / "plain.txt", "p");
    WriteFile(mTemp / "outside" / "victim.txt", "untouched");
    fs::create_directories(mTemp / "t");
    fs::current_path(mTemp / "t");  // where a list-only run must write nothing
  }
  ~UnzipTest() override { fs::current_path(mCwd); }

  std::string PyZip(const std::string& script) {
    test::MakePythonZip(mTemp / "py.zip", script);
    return ReadFile(mTemp / "py.zip");
  }

  const fs::path mCwd = fs::current_path();
  test::TempDir mTemp;
  const std::string mB = std::string(20000, 'b');
  std::vector<std::string> mAnswers;
  std::size_t mQuestions = 0;
  std::uint64_t mFreeBytes = 0;  // 0: the real disk
  Unzip32 mUnzip{
      [this](const std::string& prompt) {
        EXPECT_EQ(prompt, "Please Enter The Password!");
        return ++mQuestions <= mAnswers.size() ? mAnswers[mQuestions - 1] : std::string();
      },
      CodePage(),
      [this](const fs::path& at) { return mFreeBytes ? mFreeBytes : AvailableSpace(at); }};
};

TEST_F(UnzipTest, ExtractsOverTheTargetFolder) {
  const std::string outside = (mTemp / "outside").string(), victim = outside + "/victim.txt";
  const std::string all = PyZip(
      "z.writestr('text', 'new')\nz.writestr('empty/', '')\n"
      "for n in ['한글/설명', 'x\\\\y\\\\a', './x//b', 'ab:c']: z.writestr(n, '1')");
  const Tree allFiles = T({"text", "new", "empty", "/", "한글/설명", "1", "x/y/a", "1", "x/b", "1",
                           "ab:c", "1", "keep", "k"});
  const std::string good = PyZip(
      "z.writestr('first.txt', 'F' * 5000, zipfile.ZIP_DEFLATED)\n"
      "z.writestr('second.txt', 'S' * 1000)");
  std::string badCrc = good, badData = good, bomb = good;
  badCrc[badCrc.find("SSSS") + 10] = 'T';
  badData.replace(badData.find("first.txt") + 9, 8, 8, '\xff');
  // Both entries declare 100 bytes, in their local headers and the central directory.
  for (const auto& [header, sizeAt] : {std::pair{"PK\3\4", 22}, std::pair{"PK\1\2", 24}}) {
    for (std::size_t at = 0; (at = bomb.find(header, at)) != std::string::npos; ++at)
      bomb.replace(at + sizeAt, 4, "d\0\0\0", 4);
  }
  const Tree old = T({"second.txt", "old"});
  const std::string two = PyZip("z.writestr('Viewer', 'new')\nz.writestr('sub/o', 'o')");
  const Tree oldViewer = T({"Viewer", "old"}), newTwo = T({"Viewer", "new", "sub/o", "o"});
  // Names that leave the target folder, and links out of it with entries through them.
  const std::string escapes =
      PyZip("z.writestr('good.txt', 'good')\nfor n in ['sub/../../../e', r'..\\..\\e', '" + victim +
            "', r'C:\\Windows\\a.dll', 'c:a.dll']: z.writestr(zipfile.ZipInfo(n), 'x')");
  const std::string up = "../../../../../outside";
  const std::string links =
      PyZip("for n, to in [('out', '" + outside + "'), ('d/up', '" + up +
            "')]:\n  i = zipfile.ZipInfo(n)"
            "; i.external_attr = 0o120777 << 16; z.writestr(i, to); z.writestr(n + '/v.txt', 'x')");
  // The last one leads out only once l1 is resolved.
  const std::string inside = PyZip(
      "for n, to in [('l1', '.'), ('in', 'l1/sub'), ('l2', 'l1/../x')]:\n"
      "  i = zipfile.ZipInfo(n); i.external_attr = 0o120777 << 16; z.writestr(i, to)");
  test::RunInfoZip(mTemp / "src", {"-q", "-P", "비밀번호", "../i.zip", "a.txt", "sub/b.txt"});
  const std::string enc = ReadFile(mTemp / "i.zip");
  test::RunInfoZip(mTemp / "src", {"-q", "../i.zip", "plain.txt"});  // and one plain entry
  const std::string mixed = ReadFile(mTemp / "i.zip");
  const Tree mixedFiles = T({"a.txt", "secret a", "sub/b.txt", mB, "plain.txt", "p"});
  // A program that runs from the file the "running" row replaces.
  const std::string program = (mTemp / "t" / "running" / "in" / "target" / "Viewer").string();
  WriteFile(program, "");
  fs::copy_file("/bin/sleep", program, fs::copy_options::overwrite_existing);
  const test::BackgroundProgram running(program, {"30"});

  struct Case {
    const char* name;
    std::string zip;  // empty: no archive
    Tree before;      // read-only files (or links) in the target folder before the run
    std::int32_t status;
    Tree after;
    std::vector<std::string> answers{};
    std::size_t questions = 0;
    std::uint64_t freeBytes = 0;
  };
  // Rows run in order on one Unzip32: an empty password answer holds for every later run.
  const Case cases[] = {
      {"all", all, T({"text", "old, longer than the new one", "keep", "k"}), Ok, allFiles},
      {"no archive", "", {}, NoZip, {}},
      {"bad crc", badCrc, old, EntryError,
       T({"first.txt", std::string(5000, 'F'), "second.txt", "old"})},
      {"bad data", badData, old, EntryError, T({"second.txt", std::string(1000, 'S')})},
      {"more data than declared", bomb, old, EntryError, old},
      // The free space must hold the declared sizes (4 bytes) and the margin, or nothing goes in.
      {"disk too small", two, oldViewer, DiskError, oldViewer, {}, 0, 4 + FreeSpaceMargin - 1},
      {"running", two, {}, Ok, newTwo, {}, 0, 4 + FreeSpaceMargin},  // with just enough space
      // Tests run as root: these are failures that no permission overrides.
      {"folder in way", two, T({"Viewer/k", "k"}), DiskError, T({"Viewer/k", "k", "sub/o", "o"})},
      {"file in way", two, T({"sub", "file"}), DiskError, T({"sub", "file", "Viewer", "new"})},
      {"link in way", two, T({"Viewer", "-> " + victim}), Ok, newTwo},
      {"escapes", escapes, {}, EntryError, T({"good.txt", "good"})},
      // Links that lead out are not made; links inside are, but nothing is written through them.
      {"links", links, {}, EntryError, T({"out/v.txt", "x", "d/up/v.txt", "x"})},
      {"links inside", inside, {}, EntryError, T({"l1", "-> .", "in", "-> l1/sub"})},
      // One answer opens every entry; a wrong one is asked once per entry and changes nothing
      // encrypted, while the plain entries go in.
      {"password", mixed, {}, Ok, mixedFiles, {"비밀번호"}, 1},
      {"wrong password", mixed, {}, Warning, T({"plain.txt", "p", "sub", "/"}), {"bad", "bad"}, 2},
      {"no password", enc, {}, BadPassword, T({"sub", "/"}), {}, 1},
      {"never asked again", enc, {}, BadPassword, T({"sub", "/"}), {"비밀번호"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path archive = mTemp / (std::string(c.name) + ".zip");
    const fs::path target = mTemp / "t" / c.name / "in" / "target";
    if (!c.zip.empty()) WriteFile(archive, c.zip);
    for (const auto& [name, bytes] : c.before) {
      if (bytes.starts_with("-> ")) {
        fs::create_directories(target);
        fs::create_symlink(bytes.substr(3), target / name);
      } else {
        WriteFile(target / name, bytes);
        fs::permissions(target / name, fs::perms::owner_read);
      }
    }
    mAnswers = c.answers;
    mQuestions = 0;
    mFreeBytes = c.freeBytes;
    mUnzip.SetUnzipOptions({.ZipFile = archive, .TargetFolder = target});

    EXPECT_EQ(mUnzip.RunUnzip(), c.status);
    EXPECT_EQ(Files(target), c.after);
    EXPECT_EQ(mQuestions, c.questions);
    EXPECT_EQ(Files(mTemp / "t"), Tree{}) << "nothing outside the target folder";
    EXPECT_EQ(Files(mTemp / "outside"), T({"victim.txt", "untouched"}));
  }
  EXPECT_TRUE(mUnzip.PasswordSkipped());
  mUnzip.SetUnzipOptions({.ZipFile = mTemp / "all.zip"});  // no target folder: only listed
  EXPECT_EQ(mUnzip.RunUnzip(), Ok);
  EXPECT_EQ(Files(mTemp / "t"), Tree{});
}

TEST(UnzipEntryPathTest, NamesNotFlaggedAsUtf8AreInTheCodePage) {
  EXPECT_EQ(EntryNameToUtf8("\xc7\xd1\xb1\xdb.txt", CodePage(949)), "한글.txt");
  EXPECT_EQ(EntryNameToUtf8("한글.txt", CodePage(949)), "한글.txt");
}

}  // namespace
}  // namespace tandor
