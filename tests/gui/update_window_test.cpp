// The update window offscreen: its clock, list, bar, exits and message boxes.

#include "updatewin/frmTandor.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QRawFont>
#include <QTimer>
#include <functional>

#include "support/XvfbServer.h"

namespace tandor {
namespace {

class UpdateWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("TANDOR_UNATTENDED", "1", 1);
    sApp = std::make_unique<QApplication>(sArgc, sArgv);
  }
  // Qt wants its application gone before the program's own exit handlers run.
  static void TearDownTestSuite() { sApp.reset(); }

  // Moves the clock on to the next pump, then lets the window work.
  void Pump() { mNow += frmTandor::PumpInterval, mWindow.ProcessPendingMessages(); }
  template <typename T>
  T& Control(const char* name) {
    return *mWindow.findChild<T*>(name);
  }

  int mEnds = 0;
  bool mVisibleAtEnd = false;
  std::chrono::steady_clock::time_point mNow{};
  frmTandor mWindow{[this] { ++mEnds, mVisibleAtEnd = mWindow.isVisible(); },
                    [this] { return mNow; }};
  static inline char sName[] = "update_window_test";
  static inline char* sArgv[] = {sName, nullptr};
  static inline int sArgc = 1;
  static inline std::unique_ptr<QApplication> sApp;
};

// Events are delivered once per PumpInterval, on progress and while a transfer waits alike: so
// EXIT, clicked before each step, acts in the middle of a transfer, also while no data arrives.
TEST_F(UpdateWindowTest, TheWindowWorksByTheClock) {
  const std::tuple<std::function<void()>, bool, int> steps[] = {
      // clock moved on?, ends by then
      {[&] { mWindow.ShowProgress(10, 1000); }, true, 1},
      {[&] { mWindow.ShowProgress(10, 1000); }, false, 1},
      {[&] { mWindow.WaitingForData(); }, false, 1},
      {[&] { mWindow.WaitingForData(); }, true, 4},
  };
  for (const auto& [call, moved, ends] : steps) {
    QMetaObject::invokeMethod(&Control<QPushButton>("cmdExit"), "click", Qt::QueuedConnection);
    if (moved) mNow += frmTandor::PumpInterval;
    call();
    EXPECT_EQ(mEnds, ends);
  }
}

TEST_F(UpdateWindowTest, TheListDrawsBothScriptsAndTheBarChangesAtOnce) {
  // Lines mix Hangul and Latin: the list's face draws both.
  const QRawFont face = QRawFont::fromFont(Control<QListWidget>("lstCurrent").font());
  for (char32_t c : std::u32string_view(U"ftp://Sample.zip 파일 다운로드 완료 연결중에러발생"))
    EXPECT_TRUE(face.supportsCharacter(c)) << face.familyName().toStdString();
  // The bar's wiring (its arithmetic has its own table): a new file never starts on 100 %.
  mWindow.ShowProgress(1000, 1000);
  mWindow.ShowProgress(10, 1000);
  EXPECT_EQ(Control<QLabel>("txtCurrent").text(), "1%");
  EXPECT_LT(Control<QLabel>("txtCurrent").width(), 50);
}

// Unattended, the list also goes to standard output line by line.
TEST_F(UpdateWindowTest, AddedLinesAreSelectedWhenTheWindowNextWorks) {
  auto& list = Control<QListWidget>("lstCurrent");
  testing::internal::CaptureStdout();
  mWindow.AddLine("a");
  EXPECT_EQ(list.currentRow(), -1);
  Pump();
  EXPECT_EQ(list.currentRow(), 0);
  mWindow.AddLineUnselected("b");
  Pump();
  EXPECT_EQ(list.currentRow(), 0);
  mWindow.SelectLastLine();
  Pump();
  EXPECT_EQ(list.currentRow(), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "a\nb\n");
}

TEST_F(UpdateWindowTest, TheCloseBoxHidesTheWindowAndEndsTheProgram) {
  mWindow.Show();
  mWindow.close();
  EXPECT_EQ(mEnds, 1);
  EXPECT_FALSE(mVisibleAtEnd);
}

// On a screen: Korean buttons, the normal pointer (the hourglass does not stack); unattended:
// an answer at once, the text on standard error.
TEST_F(UpdateWindowTest, MessageBoxes) {
  if (!test::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  test::XvfbServer screen;
  mWindow.SetBusyPointer(true);
  mWindow.SetBusyPointer(true);
  setenv("TANDOR_UNATTENDED", "0", 1);
  QStringList shown;
  for (const auto buttons : {MessageButtons::Ok, MessageButtons::OkCancel, MessageButtons::YesNo}) {
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      QStringList labels;
      for (QAbstractButton* button : box->buttons()) labels << button->text();
      labels.sort();
      shown << labels.join(' ');
      EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
      box->buttons().first()->click();
    });
    mWindow.ShowMessage("", "text", MessageIcon::Exclamation, buttons);
  }
  EXPECT_EQ(shown.join('|').toStdString(), "확인|취소 확인|아니요 예");
  setenv("TANDOR_UNATTENDED", "1", 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(mWindow.AskPassword("Password?"), "");
  EXPECT_EQ(mWindow.ShowMessage("", "reboot", MessageIcon::Exclamation, MessageButtons::OkCancel),
            MessageAnswer::Ok);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Tandor] Password?\n[Tandor] reboot\n");
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);  // back after each box
  mWindow.SetBusyPointer(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  frmTandor([] {}).SetBusyPointer(true);  // a window that goes away takes its hourglass along
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace tandor
