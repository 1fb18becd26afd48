// The update window offscreen: the list, the exits, the boxes in unattended mode, and a rendered
// image of the window with its progress bar.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QImage>
#include <QListWidget>
#include <QMessageBox>
#include <QRawFont>
#include <QScreen>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "support/TempDir.h"
#include "support/XvfbServer.h"
#include "updatewin/frmTandor.h"

namespace tandor {
namespace {

using TimePoint = std::chrono::steady_clock::time_point;

class UpdateWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("TANDOR_UNATTENDED", "1", 1);
    if (!QApplication::instance()) {
      static int argc = 1;
      static char name[] = "update_window_test";
      static char* argv[] = {name, nullptr};
      sApp = std::make_unique<QApplication>(argc, argv);
    }
  }
  // Qt wants its application gone before the program's own exit handlers run.
  static void TearDownTestSuite() { sApp.reset(); }

  // A window whose program end is counted and whose clock only moves when the test moves it.
  std::unique_ptr<frmTandor> MakeWindow() {
    return std::make_unique<frmTandor>([this] { ++mEnds; }, [this] { return mNow; });
  }

  template <typename T>
  static T& Control(frmTandor& window, const char* name) {
    T* control = window.findChild<T*>(QString::fromLatin1(name));
    if (!control) throw std::runtime_error(std::string("no control ") + name);
    return *control;
  }

  int mEnds = 0;
  TimePoint mNow{};
  static std::unique_ptr<QApplication> sApp;
};

std::unique_ptr<QApplication> UpdateWindowTest::sApp;

// Window events are delivered by the clock, not per event: every PumpInterval, on progress
// events and while a transfer waits for data alike.
TEST_F(UpdateWindowTest, TheWindowWorksByTheClock) {
  auto window = MakeWindow();
  const struct {
    const char* Name;
    std::function<void()> Call;
  } pumps[] = {
      {"progress", [&] { window->ShowProgress(10, 1000); }},
      {"waiting for data", [&] { window->WaitingForData(); }},
  };
  for (const auto& pump : pumps) {
    SCOPED_TRACE(pump.Name);
    bool delivered = false;
    QMetaObject::invokeMethod(
        window.get(), [&] { delivered = true; }, Qt::QueuedConnection);
    mNow += frmTandor::PumpInterval;
    pump.Call();
    EXPECT_TRUE(delivered);
    delivered = false;
    QMetaObject::invokeMethod(
        window.get(), [&] { delivered = true; }, Qt::QueuedConnection);
    pump.Call();  // too soon: nothing is delivered, nothing drawn
    EXPECT_FALSE(delivered);
    mNow += frmTandor::PumpInterval;
    pump.Call();
    EXPECT_TRUE(delivered);
  }
  // So EXIT acts in the middle of a transfer, also while no data arrives.
  QMetaObject::invokeMethod(&Control<QPushButton>(*window, "cmdExit"), "click",
                            Qt::QueuedConnection);
  mNow += frmTandor::PumpInterval;
  window->WaitingForData();
  EXPECT_EQ(mEnds, 1);
}

// The bar follows every change of its text at once, with no event loop running: a new file
// never starts on the last one's 100 %.
TEST_F(UpdateWindowTest, TheBarNeverShowsAnOldValue) {
  auto window = MakeWindow();
  auto& text = Control<QLabel>(*window, "txtCurrent");
  window->ShowProgress(1000, 1000);
  EXPECT_EQ(text.text(), "100%");
  window->ShowProgress(10, 1000);  // the next file's first chunk, in the same instant
  EXPECT_EQ(text.text(), "1%");
  EXPECT_LT(text.width(), 50);
}

TEST_F(UpdateWindowTest, AddedLinesAreSelectedUnlessAskedNot) {
  auto window = MakeWindow();
  auto& list = Control<QListWidget>(*window, "lstCurrent");
  auto pump = [&] {
    mNow += frmTandor::PumpInterval;
    window->ProcessPendingMessages();
  };
  testing::internal::CaptureStdout();
  window->AddLine("Upgrade Sample by FTP");
  window->AddLine("Viewer.exe 파일 다운로드 완료 (1)");
  pump();  // the selection is made when the window next works, not at every line
  EXPECT_EQ(list.currentRow(), 1);
  window->AddLineUnselected("2개의 파일을 다운로드 합니다.");
  pump();
  EXPECT_EQ(list.count(), 3);
  EXPECT_EQ(list.currentRow(), 1);
  window->SelectLastLine();
  pump();
  EXPECT_EQ(list.currentRow(), 2);
  EXPECT_EQ(list.item(2)->text(), QString::fromUtf8("2개의 파일을 다운로드 합니다."));
  // Unattended, the list also goes to standard output line by line.
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Upgrade Sample by FTP\nViewer.exe 파일 다운로드 완료 (1)\n"
            "2개의 파일을 다운로드 합니다.\n");
}

TEST_F(UpdateWindowTest, ExitButtonAndCloseBoxEndTheProgramOnce) {
  const struct {
    const char* Name;
    std::function<void(frmTandor&)> Trigger;
  } exits[] = {
      {"EXIT", [](frmTandor& w) { Control<QPushButton>(w, "cmdExit").click(); }},
      {"close box", [](frmTandor& w) { w.close(); }},
      {"unload", [](frmTandor& w) { w.Unload(); }},
  };
  for (const auto& exit : exits) {
    SCOPED_TRACE(exit.Name);
    std::vector<bool> visibleAtEnds;
    frmTandor* raw = nullptr;
    auto window = std::make_unique<frmTandor>([&] { visibleAtEnds.push_back(raw->isVisible()); });
    raw = window.get();
    window->Show();
    window->ProcessPendingMessages();
    exit.Trigger(*window);
    ASSERT_EQ(visibleAtEnds.size(), 1u);
    // Closing through the title bar hides the window before the program ends.
    if (exit.Name == std::string_view("close box")) {
      EXPECT_FALSE(visibleAtEnds[0]);
    }
  }
}

TEST_F(UpdateWindowTest, BusyPointerDoesNotStack) {
  auto window = MakeWindow();
  window->SetBusyPointer(true);
  window->SetBusyPointer(true);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  // The user answers boxes with the normal pointer; the hourglass comes back afterwards.
  testing::internal::CaptureStderr();
  window->ShowMessage("", "text", MessageIcon::None, MessageButtons::Ok);
  testing::internal::GetCapturedStderr();
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  window->SetBusyPointer(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  window->SetBusyPointer(true);
  window.reset();  // a window that goes away takes its hourglass with it
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(UpdateWindowTest, UnattendedBoxesAnswerAtOnce) {
  auto window = MakeWindow();
  testing::internal::CaptureStderr();
  EXPECT_EQ(window->AskPassword("Please Enter The Password!"), "");
  EXPECT_EQ(window->ShowMessage("", "연결 실패", MessageIcon::Critical, MessageButtons::Ok),
            MessageAnswer::Ok);
  EXPECT_EQ(window->ShowMessage("Tandor 1.0.210", "리부팅", MessageIcon::Exclamation,
                                MessageButtons::OkCancel),
            MessageAnswer::Ok);
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("Please Enter The Password!"), std::string::npos) << printed;
  EXPECT_NE(printed.find("[Tandor] 연결 실패"), std::string::npos) << printed;
  EXPECT_NE(printed.find("[Tandor 1.0.210] 리부팅"), std::string::npos) << printed;
}

TEST_F(UpdateWindowTest, BoxesOnAScreenHaveKoreanButtons) {
  if (!test::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  test::XvfbServer display;
  setenv("TANDOR_UNATTENDED", "0", 1);
  auto window = MakeWindow();
  struct Case {
    MessageButtons buttons;
    QStringList labels;
  } cases[] = {
      {MessageButtons::Ok, {"확인"}},
      {MessageButtons::OkCancel, {"확인", "취소"}},
      {MessageButtons::YesNo, {"예", "아니요"}},
  };
  for (const Case& c : cases) {
    QStringList shown;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      for (QAbstractButton* button : box->buttons()) shown << button->text();
      box->buttons().first()->click();
    });
    window->ShowMessage("", "리부팅", MessageIcon::Exclamation, c.buttons);
    shown.sort();
    QStringList expected = c.labels;
    expected.sort();
    EXPECT_EQ(shown, expected) << shown.join(',').toStdString();
  }
  setenv("TANDOR_UNATTENDED", "1", 1);
}


TEST_F(UpdateWindowTest, RendersTheListAndAHalfFullBar) {
  test::TempDir temp;
  auto window = MakeWindow();
  window->SetCaption("Tandor 1.0.210");
  // Korean lines need a font that has their characters.
  const QRawFont korean = QRawFont::fromFont(window->font(), QFontDatabase::Korean);
  ASSERT_TRUE(korean.isValid());
  for (char32_t c : std::u32string_view(U"연결중에러가발생하였습니다"))
    EXPECT_TRUE(korean.supportsCharacter(c)) << korean.familyName().toStdString();
  // List lines mix both scripts: one face draws them all.
  const QFont list = Control<QListWidget>(*window, "lstCurrent").font();
  const QRawFont latin = QRawFont::fromFont(list, QFontDatabase::Latin);
  EXPECT_EQ(latin.familyName(), QRawFont::fromFont(list, QFontDatabase::Korean).familyName());
  for (char32_t c : std::u32string_view(U"ftp://Sample.zip 파일 다운로드 완료"))
    EXPECT_TRUE(latin.supportsCharacter(c)) << latin.familyName().toStdString();
  testing::internal::CaptureStdout();
  window->AddLine("Upgrade Sample by FTP");
  window->AddLineUnselected("2개의 파일을 다운로드 합니다.");
  window->AddLine("ftp://192.0.2.1에 연결 중 에러가 발생하였습니다.");
  testing::internal::GetCapturedStdout();
  window->ShowProgress(500, 1000);

  // One event reaches the bar: its text and its fill (the rounding has its own tests).
  EXPECT_EQ(Control<QLabel>(*window, "txtCurrent").text(), "50%");

  const QImage image = window->grab().toImage();
  const auto file = temp / "frmTandor.png";
  ASSERT_TRUE(image.save(QString::fromStdString(file.string())));
  ASSERT_EQ(image.size(), QSize(408, 214));
  EXPECT_EQ(window->windowTitle(), "Tandor 1.0.210");

  // The bar covers half its frame in grey 205; the other half stays white.
  EXPECT_EQ(QColor(image.pixel(150, 203)), QColor(205, 205, 205));
  EXPECT_EQ(QColor(image.pixel(300, 203)), QColor(Qt::white));
  // The list's lines left ink inside it.
  int dark = 0;
  for (int y = 40; y < 90; ++y)
    for (int x = 10; x < 300; ++x) dark += qGray(image.pixel(x, y)) < 128;
  EXPECT_GT(dark, 100);
}

}  // namespace
}  // namespace tandor
