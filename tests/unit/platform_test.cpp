// The Windows machine inside the prefix, process names, command-line splitting, temporary files
// and the owner of file descriptors.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>
#include <tuple>
#include <utility>

#include "platform/CommandLine.h"
#include "platform/FileDescriptor.h"
#include "platform/FileIo.h"
#include "platform/Prefix.h"
#include "platform/ProcessList.h"
#include "support/TempDir.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Windows paths resolve as Windows resolves them: nothing climbs out of a drive.
TEST(Prefix, PathConversionTable) {
  Prefix prefix("/p");
  // clang-format off
  const std::tuple<bool, const char*, const char*> cases[] = {
      {true, "C:\\Sample\\Version.ini", "/p/drive_c/Sample/Version.ini"},
      {true, "D:\\", "/p/drive_d"},
      {true, "/opt/app\\Tandor.ini", "/opt/app/Tandor.ini"},
      {true, "\\Sample\\x", "/p/drive_c/Sample/x"},
      {true, "C:\\Sample\\../../../etc/passwd", "/p/drive_c/etc/passwd"},
      {false, "/p/drive_c/Sample/Version.ini", "C:\\Sample\\Version.ini"},
      {false, "/p/drive_c", "C:\\"},
      {false, "/p/drive_cc/x", "/p/drive_cc/x"}};
  // clang-format on
  for (auto [toNative, from, to] : cases)
    EXPECT_EQ(toNative ? prefix.ToNative(from).string() : prefix.ToWindows(from), to) << from;
  for (const char* outside :
       {"/p/drive_c/../../etc", "/p/registry.ini", "/p/drive_cc/x", "/pp/drive_c/x"})
    EXPECT_FALSE(prefix.HoldsPath(outside)) << outside;
  EXPECT_TRUE(prefix.HoldsPath("/p/drive_c/Sample/x"));
}

TEST(Prefix, OpenCreatesTheMachineAndKeepsWhatIsThere) {
  TempDir dir;
  Prefix prefix = Prefix::Open(dir / "new");
  EXPECT_TRUE(fs::is_directory(prefix.ToNative("C:\\Windows\\System32")));
  EXPECT_EQ(
      prefix.ReadRegistryValue("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"),
      "C:\\Program Files");
  EXPECT_EQ(prefix.AnsiCodePage().Number(), 65001);
  // A root given with ".." is the same machine as its canonical path.
  fs::create_directories(dir / "other");
  EXPECT_EQ(Prefix::Open(dir / "other/../new").ToWindows(dir / "new/drive_c/App"), "C:\\App");
  prefix.WriteRegistryValue("SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", "949");
  EXPECT_EQ(Prefix::Open(dir / "new").AnsiCodePage().Number(), 949);
}

// Keys and names in any case; a later write replaces; a bad code page number reads as UTF-8.
TEST(Prefix, RegistryValuesAndTheCodePage) {
  TempDir dir;
  Prefix prefix(dir.Path());
  EXPECT_EQ(prefix.ReadRegistryValue("SOFTWARE\\X", "v"), std::nullopt);  // no file
  prefix.WriteRegistryValue("SOFTWARE\\X", "v", "1");
  prefix.WriteRegistryValue("HKEY_LOCAL_MACHINE\\software\\x", "W", "2");
  prefix.WriteRegistryValue("SOFTWARE\\X", "V", "3");
  EXPECT_EQ(prefix.ReadRegistryValue("SOFTWARE\\X", "v"), "3");
  EXPECT_EQ(prefix.ReadRegistryValue("software\\x", "w"), "2");
  EXPECT_EQ(prefix.ReadRegistryValue("SOFTWARE\\Y", "v"), std::nullopt);
  for (auto [value, expected] : {std::pair{"949", 949}, {"x", 65001}, {"-5", 65001}}) {
    prefix.WriteRegistryValue("SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", value);
    EXPECT_EQ(prefix.AnsiCodePage().Number(), expected) << value;
  }
}

// Both ways; bytes a code page does not know never fail; a cut never splits a character.
TEST(CodePage, ConversionTable) {
  const std::tuple<int, std::string, std::string> cases[] = {
      {949, "\xC7\xD1\xB1\xDB", "한글"}, {65001, "한글", "한글"}, {1252, "caf\xE9", "café"}};
  for (const auto& [page, bytes, utf8] : cases) {
    EXPECT_EQ(CodePage(page).ToUtf8(bytes), utf8) << page;
    EXPECT_EQ(CodePage(page).FromUtf8(utf8), bytes) << page;
  }
  EXPECT_EQ(CodePage(949).ToUtf8("a\xFF"), "a\xEF\xBF\xBD");
  EXPECT_EQ(CodePage(949).FromUtf8("a€b"), "a\xA2\xE6\x62");
  EXPECT_EQ(CodePage(1252).FromUtf8("한"), "?");
  const std::tuple<int, std::string, std::size_t, std::size_t> cuts[] = {
      {65001, "ab한", 4, 2}, {65001, "ab한", 5, 5}, {949, "\xC7\xD1\xB1\xDB", 3, 2}};
  for (const auto& [page, bytes, limit, cut] : cuts)
    EXPECT_EQ(CodePage(page).CutPoint(bytes, limit), cut) << page << " " << limit;
}

// The executable's name, else argv[0], else the kernel's name; an ended process has none.
TEST(ProcessImageName, TakesTheExecutableThenTheCommandLineThenTheKernelName) {
  const std::optional<std::string> none;
  // clang-format off
  const std::tuple<std::optional<std::string>, std::string, std::string, std::string> cases[] = {
      {"/opt/app/TandorSample", "", "", "TandorSample"},
      {"/opt/app/TandorSample (deleted)", "", "", "TandorSample"},
      {none, "/usr/lib/TandorVeryLongProductName\0-q\0"s, "7 (TandorVeryLong) S 1", "TandorVeryLongProductName"},
      {none, "", "9 (a (b) c) R 1", "a (b) c"},
      {none, "", "7 (TandorSample) Z 1", ""}};
  // clang-format on
  for (const auto& [exe, cmdline, stat, name] : cases)
    EXPECT_EQ(ProcessImageNameFrom(exe, cmdline, stat), name) << stat;
}

// The C runtime's rules: quotes group, backslashes escape only before a quote.
TEST(SplitArguments, FollowsTheCRuntimeRules) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {" a  b\tc ", {"a", "b", "c"}}, {R"("C:\My Files\a.dll" /S)", {R"(C:\My Files\a.dll)", "/S"}},
      {R"(a"b c"d)", {"ab cd"}},      {R"(a\\"b c" d)", {R"(a\b c)", "d"}},
      {R"(a\\\"b)", {R"(a\"b)"}},     {R"("a""b" c)", {R"(a"b)", "c"}},
  };
  for (const auto& [text, words] : cases) EXPECT_EQ(SplitArguments(text), words) << text;
}

// A name that was renamed is forgotten; the ones still there go at the end, whatever their order.
TEST(TemporarySibling, OnlyWhatIsLeftIsRemovedAtTheEnd) {
  TempDir dir;
  const fs::path first = TemporarySibling(dir / "a"), second = TemporarySibling(dir / "b"),
                 third = TemporarySibling(dir / "c");
  for (const fs::path& temp : {first, second, third}) WriteFile(temp, "partial");
  fs::rename(second, dir / "b");
  ForgetTemporary(second);
  WriteFile(second, "another program's file of the same name");
  RemoveOwnTemporaries();
  EXPECT_FALSE(fs::exists(first) || fs::exists(third));
  EXPECT_TRUE(fs::exists(second) && fs::exists(dir / "b"));
}

// An unnamed file gets its name in one step: beside a file of that name it replaces it whole,
// where it cannot it leaves the name as it was, and nothing else remains in the folder.
TEST(UnnamedFile, GetsItsNameInOneStep) {
  const struct {
    std::string Before;  // empty: no such name; "/": a folder of that name
    int Error;
    std::string After;
  } rows[] = {{"", 0, "new"}, {"old", 0, "new"}, {"/", EISDIR, "/"}};
  for (const auto& row : rows) {
    TempDir dir;
    const fs::path target = dir / "file.bin";
    if (row.Before == "/")
      fs::create_directory(target);
    else if (!row.Before.empty())
      WriteFile(target, row.Before);
    const int fd = OpenUnnamedFile(dir.Path());
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ASSERT_EQ(::write(fd, "new", 3), 3);
    EXPECT_EQ(LinkUnnamedFile(fd, target), row.Error);
    ::close(fd);
    EXPECT_EQ(fs::is_directory(target) ? "/" : ReadFile(target), row.After);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
  }
}

// A descriptor is closed once, by its last owner, and never after it was handed away: a second
// close could hit a descriptor the number was given to meanwhile.
TEST(FileDescriptor, ClosesWhatItHoldsOnceAndOnlyThat) {
  auto isOpen = [](int fd) { return ::fcntl(fd, F_GETFD) != -1; };
  FileDescriptor first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int number = first.Get();
  ASSERT_GE(number, 0);
  FileDescriptor second(std::move(first));
  FileDescriptor third;
  third = std::move(second);
  EXPECT_EQ(first.Get(), -1);
  EXPECT_EQ(second.Get(), -1);
  EXPECT_TRUE(isOpen(number));
  EXPECT_TRUE(third.Close());
  EXPECT_FALSE(isOpen(number));
  EXPECT_TRUE(third.Close());

  const int kept = FileDescriptor(::open("/dev/null", O_RDONLY | O_CLOEXEC)).Release();
  EXPECT_TRUE(isOpen(kept));
  FileDescriptor stale(kept);
  ::close(kept);
  EXPECT_FALSE(stale.Close());
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(stale.Get(), -1);
}

}  // namespace
}  // namespace tandor::test
