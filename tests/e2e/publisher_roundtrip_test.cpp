// An operator publishes with the built program on a private X display, clicking where the
// window's controls were designed and typing a path into the file dialog; then the updater
// installs what was published.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "support/FtpServer.h"
#include "support/ProgramRun.h"
#include "support/TempDir.h"
#include "support/XvfbServer.h"
#include "util/ProcessCheck.h"

namespace tandor::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs xdotool; its first line of output.
std::string XDo(const std::string& args) {
  std::string out;
  if (FILE* pipe = popen(("timeout 20 xdotool " + args + " 2>/dev/null").c_str(), "r")) {
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out.substr(0, out.find('\n'));
}

TEST(PublisherRoundTripTest, PublishedFileIsInstalledByTheNextPass) {
  if (!XvfbServer::Installed() || system("command -v xdotool >/dev/null") != 0)
    GTEST_SKIP() << "Xvfb or xdotool is not installed";
  XvfbServer display;
  TempDir dir;
  FtpServer server(dir / "srv");
  const fs::path prefix = dir / "prefix", app = prefix / "drive_c" / "Client";
  const fs::path remote = server.Root() / "Harrowin" / "Sample", file = dir / "hello.txt";
  fs::create_directories(app);
  fs::copy_file(TANDOR_BINARY, app / "Tandor");
  WriteFile(remote / "Tandor10.ini", "[Files]");
  WriteFile(file, "published by the window\n");

  // The window runs beside the test and is ended by it, on every way out.
  struct Stopper {
    pid_t Pid;
    void Stop() {
      if (Pid > 0 && kill(Pid, SIGKILL) == 0) waitpid(Pid, nullptr, 0);
      Pid = 0;
    }
    ~Stopper() { Stop(); }
  } publisher{fork()};
  if (publisher.Pid == 0) {
    setenv("TANDOR_PREFIX", prefix.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    unsetenv("TANDOR_UNATTENDED");
    execl((app / "Tandor").c_str(), "Tandor", "$Version", static_cast<char*>(nullptr));
    _exit(127);
  }
  const std::string window = XDo("search --sync --onlyvisible --name '^Tandor 1.0.210$'");
  ASSERT_FALSE(window.empty()) << "the window did not show";
  XDo("windowfocus --sync " + window);
  // Clicks the middle of a control designed at (left, top, width, height) twips.
  const auto click = [&](int left, int top, int width, int height) {
    XDo("mousemove --window " + window + " " + std::to_string((left + width / 2) / 15) + " " +
        std::to_string((top + height / 2) / 15) + " click 1");
    std::this_thread::sleep_for(400ms);  // a sanitizer build takes its time to react
  };
  const auto type = [](const std::string& text) { XDo("type --delay 15 '" + text + "'"); };
  const auto pick = [&] {
    const std::string dialog = XDo("search --sync --onlyvisible --name '^Open$'");
    XDo("windowfocus --sync " + dialog);
    std::this_thread::sleep_for(1s);
    type(file.string());
    XDo("key Return");
    EXPECT_TRUE(WaitFor([] { return XDo("search --onlyvisible --name '^Open$'").empty(); }, 10s));
  };

  const struct {
    int Left, Top, Width, Height;
    std::string Text;
  } fields[] = {
      {5160, 60, 975, 330, server.PortText()},   {1140, 450, 5000, 330, server.User()},
      {1140, 840, 5000, 330, server.Password()}, {1140, 1230, 5025, 345, "/Harrowin/Sample"},
      {7725, 60, 4065, 345, "C:\\Sample"},
  };
  for (const auto& f : fields) {
    click(f.Left, f.Top, f.Width, f.Height);
    XDo("key ctrl+a");
    type(f.Text);
  }
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
  const std::string manifest = ReadFile(remote / "Tandor10.ini");
  EXPECT_EQ(manifest.rfind("[Files]\r\n[File1]\r\nKey=hello.txt\r\nFileName=hello.txt\r\n", 0), 0u)
      << manifest;
  EXPECT_NE(manifest.find("\r\nServer Path=/Harrowin/Sample\r\nLocal Path=C:\\Sample\r\n"),
            std::string::npos)
      << manifest;
  EXPECT_EQ(ReadFile(app / "Tandor10.ini"), manifest);
  publisher.Stop();  // the update pass waits until no updater named Tandor runs

  WriteFile(app / "Tandor.ini", "[Tandor]\r\nAddress=127.0.0.1\r\nPort=" + server.PortText() +
                                    "\r\nUser=tandor\r\nPassword=secret\r\nRoot=/Harrowin\r\n");
  const ProgramResult launcher = RunProgram(
      app / "Tandor", {"Sample"}, {{"TANDOR_PREFIX", prefix.string()}, {"TANDOR_UNATTENDED", "1"}});
  EXPECT_EQ(launcher.Status, 0) << launcher.Err;
  EXPECT_TRUE(WaitFor(
      [&] { return ReadFile(prefix / "drive_c" / "Sample" / "hello.txt") == ReadFile(file); }, 30s))
      << ReadFile(app / "Err.log");
  EXPECT_TRUE(WaitFor([] { return !IsProcessRunning("TandorSample"); }, 20s));
}

}  // namespace
}  // namespace tandor::test
