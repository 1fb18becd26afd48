// Qt's own windows on a real X server: a program's main window counts, its dialogs never do.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QWindow>
#include <chrono>
#include <functional>
#include <memory>

#include "support/XvfbServer.h"
#include "util/WindowCheck.h"

namespace tandor {
namespace {

using namespace std::chrono_literals;

// Lets Qt run until `done` holds, at most a few seconds.
bool ProcessEventsUntil(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (done()) return true;
  }
  return false;
}

bool Exposed(QWidget& widget) {
  return widget.windowHandle() && widget.windowHandle()->isExposed();
}

TEST(WindowCheckWithQt, FindsTheMainWindowButNotTheDialogs) {
  if (!test::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  test::XvfbServer server;
  ASSERT_TRUE(server.Running()) << server.Problem();
  // The tests run offscreen by default; this one needs the real X server.
  qputenv("QT_QPA_PLATFORM", "xcb");
  // No session bus belongs to this display; without an address libdbus would try to launch one.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tandor-test-bus");
  int argc = 1;
  char name[] = "window_check_qt_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);

  QMainWindow main;
  main.setWindowTitle(QString::fromUtf8("샘플 관리 프로그램"));
  main.show();
  QDialog owned(&main);
  owned.setWindowTitle(QString::fromUtf8("샘플 설정"));
  owned.show();
  QDialog alone;
  alone.setWindowTitle("Sample Dialog");
  alone.show();
  QMainWindow hidden;
  hidden.setWindowTitle("Sample Hidden");
  hidden.show();
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return Exposed(main) && Exposed(owned) && Exposed(alone) && Exposed(hidden); }));
  hidden.hide();
  ASSERT_TRUE(ProcessEventsUntil([&] { return !IsFormWindowOpen("Sample Hidden"); }));

  EXPECT_TRUE(IsFormWindowOpen("샘플 관리 프로그램"));
  EXPECT_FALSE(IsFormWindowOpen("샘플 관리"));
  EXPECT_FALSE(IsFormWindowOpen("샘플 설정"));
  EXPECT_FALSE(IsFormWindowOpen("Sample Dialog"));

  main.close();
  EXPECT_TRUE(ProcessEventsUntil([&] { return !IsFormWindowOpen("샘플 관리 프로그램"); }));
}

}  // namespace
}  // namespace tandor
