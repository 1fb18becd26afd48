// An operator publishes with the built program on a private X display, clicking where the
// controls were designed and typing into them; then the updater installs what was published.

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "support/FtpServer.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/XvfbServer.h"
#include "util/ProcessCheck.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string XDo(const std::string& args) {  // the first line xdotool prints
  const std::string out = RunProgram("/bin/sh", {"-c", "xdotool " + args}, {}, 20s).Out;
  return out.substr(0, out.find('\n'));
}

TEST(PublisherRoundTripTest, PublishedFileIsInstalledByTheNextPass) {
  if (!XvfbServer::Installed() || system("command -v xdotool >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb or xdotool is not installed";
  XvfbServer display;
  TempDir dir;
  FtpServer server(dir / "srv");
  // A product name of the test's own: no other working copy of the updater answers to it.
  const fs::path prefix = dir / "prefix", app = prefix / "drive_c" / "Client";
  const fs::path remote = server.Root() / "Harrowin" / "Published", file = dir / "hello.txt";
  fs::create_directories(app);
  fs::copy_file(TANDOR_BINARY, app / "Tandor");
  WriteFile(remote / "Tandor10.ini", "[Files]");
  WriteFile(file, "published by the window\n");

  // The window runs beside the test and is ended by it, on every way out.
  std::optional<BackgroundProgram> publisher(
      std::in_place, app / "Tandor", std::vector<std::string>{"$Version"},
      std::map<std::string, std::string>{
          {"TANDOR_PREFIX", prefix}, {"QT_QPA_PLATFORM", "xcb"}, {"TANDOR_UNATTENDED", ""}});
  const std::string window = XDo("search --sync --onlyvisible --name '^Tandor 1.0.210$'");
  ASSERT_FALSE(window.empty()) << "the window did not show";
  XDo("windowfocus --sync " + window);
  // The middle of a control designed at (left, top, width, height) twips; then time to react.
  const auto click = [&](int left, int top, int width, int height) {
    XDo("mousemove --window " + window + " " + std::to_string((left + width / 2) / 15) + " " +
        std::to_string((top + height / 2) / 15) + " click 1 sleep 0.4");
  };
  const auto type = [](const std::string& text) { XDo("type --delay 15 '" + text + "'"); };
  const auto pick = [&] {  // the file dialog takes the focus, gets the path and goes
    std::string dialog;
    ASSERT_TRUE(WaitFor([&] { return (dialog = XDo("getwindowfocus")) != window; }, 20s));
    XDo("sleep 1");
    type(file.string());
    XDo("key Return");
    EXPECT_TRUE(WaitFor([&] { return XDo("getwindowfocus") != dialog; }, 10s));
  };

  // The port field, then on in tab order: account, password, server path, Search, Save, local path.
  click(5160, 60, 975, 330);
  XDo("key ctrl+a");
  type(server.PortText() + "\t" + server.User() + "\t" + server.Password() +
       "\t/Harrowin/Published\t\t\tC:\\Published");
  click(1140, 1620, 1200, 405);  // Search
  ASSERT_TRUE(WaitFor([&] { return ReadFile(app / "Tandor10.ini") == "[Files]"; }, 10s));
  click(60, 2085, 11715, 5145);  // the editor: a new line after its text
  XDo("key ctrl+End Return");
  click(8190, 1620, 1200, 405);  // Add
  pick();
  click(10590, 1620, 1200, 405);  // Upload
  pick();
  ASSERT_TRUE(WaitFor([&] { return ReadFile(remote / "hello.txt") == ReadFile(file); }, 10s));
  click(2340, 1620, 1200, 405);  // Save
  ASSERT_TRUE(WaitFor([&] { return ReadFile(remote / "Tandor10.ini").size() > 20; }, 10s));
  EXPECT_EQ(ReadFile(app / "Tandor10.ini"), ReadFile(remote / "Tandor10.ini"));
  publisher.reset();  // the update pass waits until no updater named Tandor runs

  WriteFile(app / "Tandor.ini", "[Tandor]\r\nAddress=127.0.0.1\r\nPort=" + server.PortText() +
                                    "\r\nUser=tandor\r\nPassword=secret\r\nRoot=/Harrowin\r\n");
  const ProgramResult pass = RunProgram(app / "Tandor", {"--wait", "Published"},
                                        {{"TANDOR_PREFIX", prefix}, {"TANDOR_UNATTENDED", "1"}});
  EXPECT_EQ(pass.Status, 0) << pass.Err << ReadFile(app / "Err.log");
  EXPECT_EQ(ReadFile(prefix / "drive_c" / "Published" / "hello.txt"), ReadFile(file));
  EXPECT_FALSE(IsProcessRunning("TandorPublished"));  // --wait returns once the pass has ended
}

}  // namespace
}  // namespace tandor::test
