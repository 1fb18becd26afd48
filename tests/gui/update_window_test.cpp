// The update window offscreen: the clock that paces it, the list, the bar, the exits and the
// message boxes.

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
#include "sync/Messages.h"

namespace tandor {
namespace {

class UpdateWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("TANDOR_UNATTENDED", "1", 1);
    static int argc = 1;
    static char name[] = "update_window_test";
    static char* argv[] = {name, nullptr};
    sApp = std::make_unique<QApplication>(argc, argv);
  }
  // Qt wants its application gone before the program's own exit handlers run.
  static void TearDownTestSuite() { sApp.reset(); }

  // The program's end is counted; the clock moves only when the test moves it.
  UpdateWindowTest()
      : mWindow([this] { ++mEnds, mVisibleAtEnd = mWindow.isVisible(); }, [this] { return mNow; }) {
  }
  template <typename T>
  T& Control(const char* name) {
    return *mWindow.findChild<T*>(QString::fromLatin1(name));
  }

  int mEnds = 0;
  bool mVisibleAtEnd = false;
  std::chrono::steady_clock::time_point mNow{};
  frmTandor mWindow;
  static std::unique_ptr<QApplication> sApp;
};

std::unique_ptr<QApplication> UpdateWindowTest::sApp;

// Events are delivered once per PumpInterval, on progress and while a transfer waits alike.
TEST_F(UpdateWindowTest, TheWindowWorksByTheClock) {
  const std::function<void()> pumps[] = {[&] { mWindow.ShowProgress(10, 1000); },
                                         [&] { mWindow.WaitingForData(); }};
  for (const auto& pump : pumps) {
    int delivered = 0;
    // Whether the clock moved before the call; events delivered by then (one posted per step).
    const std::pair<bool, int> steps[] = {{true, 1}, {false, 1}, {true, 3}};
    for (const auto& [moved, count] : steps) {
      QMetaObject::invokeMethod(
          &mWindow, [&] { ++delivered; }, Qt::QueuedConnection);
      if (moved) mNow += frmTandor::PumpInterval;
      pump();
      EXPECT_EQ(delivered, count);
    }
  }
  // So EXIT acts in the middle of a transfer, also while no data arrives.
  QMetaObject::invokeMethod(&Control<QPushButton>("cmdExit"), "click", Qt::QueuedConnection);
  mNow += frmTandor::PumpInterval;
  mWindow.WaitingForData();
  EXPECT_EQ(mEnds, 1);
}

TEST_F(UpdateWindowTest, TheBarAndTheListAreDrawnAtOnce) {
  // Lines mix Hangul and Latin: one face that has both draws them.
  const QFont list = Control<QListWidget>("lstCurrent").font();
  const QRawFont latin = QRawFont::fromFont(list, QFontDatabase::Latin);
  EXPECT_EQ(latin.familyName(), QRawFont::fromFont(list, QFontDatabase::Korean).familyName());
  for (char32_t c : std::u32string_view(U"ftp://Sample.zip 파일 다운로드 완료 연결중에러발생"))
    EXPECT_TRUE(latin.supportsCharacter(c)) << latin.familyName().toStdString();
  mWindow.SetCaption("Tandor 1.0.210");
  EXPECT_EQ(mWindow.windowTitle(), "Tandor 1.0.210");

  // Half of the frame in grey 205, the other half white (the rounding has its own table).
  mWindow.ShowProgress(500, 1000);
  const QImage image = mWindow.grab().toImage();
  ASSERT_EQ(image.size(), QSize(408, 214));
  EXPECT_EQ(QColor(image.pixel(150, 203)), QColor(205, 205, 205));
  EXPECT_EQ(QColor(image.pixel(300, 203)), QColor(Qt::white));
  // The bar changes at once, with no event loop running: a new file never starts on 100 %.
  mWindow.ShowProgress(1000, 1000);
  mWindow.ShowProgress(10, 1000);
  EXPECT_EQ(Control<QLabel>("txtCurrent").text(), "1%");
  EXPECT_LT(Control<QLabel>("txtCurrent").width(), 50);
}

TEST_F(UpdateWindowTest, AddedLinesAreSelectedUnlessAskedNot) {
  auto& list = Control<QListWidget>("lstCurrent");
  const std::string lines[] = {msg::Connecting("Sample", "FTP"), msg::Downloaded("Viewer.exe", "1"),
                               msg::DownloadCount(2)};
  // The selection is made when the window next works, not at every line.
  const std::tuple<std::function<void()>, int> steps[] = {
      {[&] { mWindow.AddLine(lines[0]), mWindow.AddLine(lines[1]); }, 1},
      {[&] { mWindow.AddLineUnselected(lines[2]); }, 1},
      {[&] { mWindow.SelectLastLine(); }, 2},
  };
  testing::internal::CaptureStdout();
  for (const auto& [step, row] : steps) {
    step();
    mNow += frmTandor::PumpInterval;
    mWindow.ProcessPendingMessages();
    EXPECT_EQ(list.currentRow(), row);
  }
  EXPECT_EQ(list.item(2)->text().toStdString(), lines[2]);
  // Unattended, the list also goes to standard output line by line.
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n");
}

TEST_F(UpdateWindowTest, ExitButtonAndCloseBoxEndTheProgram) {
  // Closing through the title bar hides the window before the program ends.
  const std::pair<std::function<void()>, bool> exits[] = {
      {[&] { Control<QPushButton>("cmdExit").click(); }, true},
      {[&] { mWindow.close(); }, false},
      {[&] { mWindow.Unload(); }, false},
  };
  for (const auto& [exit, visible] : exits) {
    mWindow.Show();
    exit();
    EXPECT_EQ(mVisibleAtEnd, visible);
  }
  EXPECT_EQ(mEnds, 3);
}

// On a screen the boxes have Korean buttons and the normal pointer (the hourglass does not
// stack); unattended they answer at once on standard error.
TEST_F(UpdateWindowTest, MessageBoxes) {
  if (!test::XvfbServer::Installed()) GTEST_SKIP() << "Xvfb is not installed";
  test::XvfbServer screen;
  mWindow.SetBusyPointer(true);
  mWindow.SetBusyPointer(true);
  setenv("TANDOR_UNATTENDED", "0", 1);
  const std::pair<MessageButtons, QString> cases[] = {
      {MessageButtons::Ok, "확인"},
      {MessageButtons::OkCancel, "취소 확인"},
      {MessageButtons::YesNo, "아니요 예"},
  };
  for (const auto& [buttons, labels] : cases) {
    QStringList shown;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      for (QAbstractButton* button : box->buttons()) shown << button->text();
      EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
      box->buttons().first()->click();
    });
    mWindow.ShowMessage("", "text", MessageIcon::Exclamation, buttons);
    shown.sort();
    EXPECT_EQ(shown.join(' ').toStdString(), labels.toStdString());
  }
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
