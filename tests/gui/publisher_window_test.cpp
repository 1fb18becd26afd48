// The publisher window offscreen against a real FTP server.

#include "publisher/frmVersion.h"

#include <gmock/gmock.h>

#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <tuple>

#include "VersionedElf.h"
#include "platform/Prefix.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "util/Integrity.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using testing::Each, testing::FieldsAre, testing::SizeIs, testing::StartsWith;

QRect Twips(int left, int top, int width, int height) {
  return QRect(left / 15, top / 15, width / 15, height / 15);
}

class PublisherWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { sApp = std::make_unique<QApplication>(sArgc, sArgv); }
  static void TearDownTestSuite() { sApp.reset(); }

  // Manifests are written on Korean Windows (code page 949); picks and boxes are the test's.
  // clang-format off
  PublisherWindowTest()
      : mMachine(Prefix::Open(mDir / "prefix")), mVersions(mMachine, {}),
        mWindow({mDir / "app" / "Tandor10.ini", CodePage(949), {1, 0, 210}, "Tandor 1.0.210",
                 &mVersions, "127.0.0.1;update.example", [this] { ++mEnds; },
                 [this] { return mPick; }, [this](auto... box) { mShown.emplace_back(box...); }}) {
    fs::create_directories(mServer.Root() / "Harrowin" / "Sample");
  }
  // clang-format on

  template <typename T = QWidget>
  T& Control(const char* name) {
    return *mWindow.findChild<T*>(name);
  }
  std::string Editor() {
    return Control<QPlainTextEdit>("txtINI").toPlainText().replace("\n", "\r\n").toStdString();
  }
  void Click(const char* button) { QTest::mouseClick(&Control(button), Qt::LeftButton); }
  void Connect(const std::string& port, const std::string& folder) {
    Control<QLineEdit>("txtPort").setText(port.c_str());
    Control<QLineEdit>("txtAccount").setText(mServer.User().c_str());
    Control<QLineEdit>("txtPasswd").setText(mServer.Password().c_str());
    Control<QComboBox>("cboServerPath").setCurrentText(folder.c_str());
  }

  test::TempDir mDir;
  test::FtpServer mServer{mDir / "srv"};
  Prefix mMachine;
  VersionInfoQuery mVersions;
  std::optional<std::string> mPick;
  std::vector<std::tuple<std::string, std::string, MessageIcon>> mShown;  // title, text, icon
  int mEnds = 0;
  frmVersion mWindow;
  static inline char sName[] = "publisher_window_test";
  static inline char* sArgv[] = {sName, nullptr};
  static inline int sArgc = 1;
  static inline std::unique_ptr<QApplication> sApp;
};

TEST_F(PublisherWindowTest, ControlsFollowTheDesignAndTheWindowResizes) {
  mWindow.show();
  EXPECT_EQ(mWindow.size(), QSize(790, 504));
  EXPECT_EQ(mWindow.palette().color(QPalette::Window), QColor(224, 224, 224));
  EXPECT_EQ(QFontInfo(mWindow.font()).family(), "Liberation Mono");
  EXPECT_EQ(mWindow.frameGeometry().center(), mWindow.screen()->geometry().center());

  // In tab order; the editor and the bar's frame follow the resize rule from the start.
  const std::tuple<const char*, const char*, const char*, QRect, double> controls[] = {
      {"Label_0", "QLabel", "Address", Twips(240, 105, 840, 240), 9.75},
      {"cboAddress", "QComboBox", "127.0.0.1", Twips(1140, 60, 4005, 345), 9},
      {"txtPort", "QLineEdit", "21", Twips(5160, 60, 975, 330), 9},
      {"Label_1", "QLabel", "Account", Twips(240, 495, 840, 240), 9.75},
      {"txtAccount", "QLineEdit", "", Twips(1140, 450, 5000, 330), 9},
      {"Label_2", "QLabel", "Password", Twips(120, 885, 960, 240), 9.75},
      {"txtPasswd", "QLineEdit", "", Twips(1140, 840, 5000, 330), 9},
      {"Label_3", "QLabel", "Path", Twips(600, 1275, 480, 240), 9.75},
      {"cboServerPath", "QComboBox", "", Twips(1140, 1230, 5025, 345), 9},
      {"cmdSearch", "QPushButton", "Search", Twips(1140, 1620, 1200, 405), 9.75},
      {"cmdSave", "QPushButton", "Save", Twips(2340, 1620, 1200, 405), 9.75},
      {"lblFileName", "QLabel", "Tandor10.ini", Twips(3630, 1710, 840, 225), 9.75},
      {"Label_4", "QLabel", "Local Path", Twips(6435, 120, 1200, 240), 9.75},
      {"cboLocalPath", "QComboBox", "", Twips(7725, 60, 4065, 345), 9},
      {"chkReg", "QCheckBox", "Register", Twips(6435, 450, 1155, 330), 9},
      {"Label_5", "QLabel", "CopyMode", Twips(8070, 495, 960, 240), 9.75},
      {"cboCopyMode", "QComboBox", "Normal", Twips(9105, 450, 2685, 345), 9},
      {"chkExe", "QCheckBox", "Execute", Twips(6435, 840, 1035, 330), 9},
      {"txtExe", "QLineEdit", "", Twips(7515, 840, 4275, 330), 9},
      {"chkWait", "QCheckBox", "Wait", Twips(6435, 1230, 735, 330), 9},
      {"chkExtr", "QCheckBox", "Extract", Twips(7650, 1230, 1035, 330), 9},
      {"cmdAdd", "QPushButton", "Add", Twips(8190, 1620, 1200, 405), 9.75},
      {"cmdVersion", "QPushButton", "Version", Twips(9390, 1620, 1200, 405), 9.75},
      {"chkFilename", "QCheckBox", "*.*_", Twips(10680, 1290, 945, 330), 9},
      {"cmdUp", "QPushButton", "Upload", Twips(10590, 1620, 1200, 405), 9.75},
      {"txtINI", "QPlainTextEdit", "", Twips(60, 2085, 11730, 5130), 9},
      {"PictureBox", "QFrame", "", Twips(60, 7275, 11730, 225), 9},
      {"txtCurrent", "QLabel", "0%", Twips(-30, -60, 360, 360), 9.75},
  };
  std::vector<QWidget*> tabStops;
  for (const auto& [name, kind, caption, place, points] : controls) {
    SCOPED_TRACE(name);
    QWidget& control = Control(name);
    EXPECT_STREQ(control.metaObject()->className(), kind);
    EXPECT_EQ(control.geometry(), place);
    EXPECT_EQ(control.font().pointSizeF(), points);
    auto* combo = qobject_cast<QComboBox*>(&control);
    EXPECT_EQ(combo ? combo->currentText() : control.property("text").toString(), caption);
    if (control.focusPolicy() & Qt::TabFocus) tabStops.push_back(&control);
  }
  for (std::size_t i = 1; i < tabStops.size(); ++i) {
    QWidget* next = tabStops[i - 1]->nextInFocusChain();
    while (std::find(tabStops.begin(), tabStops.end(), next) == tabStops.end())
      next = next->nextInFocusChain();
    EXPECT_EQ(next, tabStops[i]) << tabStops[i]->objectName().toStdString();
  }
  EXPECT_EQ(Control<QComboBox>("cboAddress").itemText(1), "update.example");
  EXPECT_EQ(Control<QLineEdit>("txtPasswd").echoMode(), QLineEdit::Password);

  // The lower bound keeps the editor and the left-hand fields in view; minimized, nothing moves.
  const std::tuple<QSize, QSize, QRect, QRect, bool> sizes[] = {
      {{100, 100}, {429, 240}, Twips(60, 2085, 6315, 1170), Twips(60, 3315, 6315, 225), false},
      {{1000, 700}, {1000, 700}, Twips(60, 2085, 14880, 8070), Twips(60, 10215, 14880, 225), false},
      {{500, 300}, {500, 300}, Twips(60, 2085, 14880, 8070), Twips(60, 10215, 14880, 225), true},
  };
  for (const auto& [asked, got, editor, frame, minimized] : sizes) {
    if (minimized) mWindow.setWindowState(Qt::WindowMinimized);
    mWindow.resize(asked);
    EXPECT_EQ(mWindow.size(), got);
    EXPECT_EQ(Control("txtINI").geometry(), editor) << asked.width();
    EXPECT_EQ(Control("PictureBox").geometry(), frame) << asked.width();
  }
  mWindow.close();  // ends the program at once, unsaved text or not, asking nothing
  EXPECT_EQ(mEnds, 1);
  EXPECT_FALSE(mWindow.isVisible());
}

TEST_F(PublisherWindowTest, ButtonsWorkAgainstTheServer) {
  const fs::path local = mDir / "local", editCopy = mDir / "app" / "Tandor10.ini";
  test::WriteFile(mServer.Root() / "Harrowin/Sample/Tandor10.ini",
                  "[Files]\r\nKey=\xbb\xf9\xc7\xc3");
  test::WriteFile(local / "Sample.dll", "dll bytes");
  const std::string up = mServer.PortText(), S = "/Harrowin/Sample", gone = "gone.dll";
  const std::string down = std::to_string(test::FtpServer(mDir / "gone").Port());
  const std::string noServer = "InternetConnect error code: ", found = "[Files]\r\nKey=샘플";

  // Button, port, folder, editor before, pick, editor after, start of the box's text, file on the
  // server. Search's box is titled Error; Save numbers the entries and raises the serial; *.*_
  // substitutes a name.
  const std::array<std::string, 8> cases[] = {
      {"Search", up, S, "old", "", found, "", ""},
      {"Search", up, "/Harrowin/None", "kept", "", "kept", "File not found", ""},
      {"Search", down, S, "old", "", noServer, "", ""},
      {"Search", "2x1", S, "old", "", "Type mismatch", "", ""},
      {"Save", up, S, "[Files]\n[File]\nK=a\n[FILE]", "",
       "[Files]\r\nSerial=1\r\n[File1]\r\nK=a\r\n[File2]", "", "Tandor10.ini"},
      {"Save", up, "", "[File]\nSerial=7\nK=샘플", "", "[Files]\r\nSerial=8\r\nK=샘플", "",
       "Tandor10.ini"},
      {"Save", up, "/Nowhere", "[Files]", "", "[Files]\r\nSerial=1", "550 ", ""},
      {"Up", up, S, "", "Sample.dll", "", "", "Sample.dll"},
      {"Up", up, S, "", "Sample.dll", "", "", "Sample.dl_"},
      {"Up", up, "/Nowhere", "", "Sample.dll", "", "550 ", ""},
      {"Up", up, S, "", gone, "", (local / gone).string(), ""},
      {"Up", up, S, "x", "", "x", "", ""},
      {"Add", up, "", "x", "", "x", "", ""},
      {"Add", up, "", "x", gone, "x", "File not found", ""},
  };
  for (const auto& [button, port, folder, before, pick, after, message, onServer] : cases) {
    SCOPED_TRACE(button + " " + folder + " " + before + " " + onServer);
    mShown.clear();
    test::WriteFile(editCopy, "edit copy");
    Connect(port, folder);
    Control<QPlainTextEdit>("txtINI").setPlainText(before.c_str());
    mPick = pick.empty() ? std::nullopt : std::optional((local / pick).string());
    Control<QCheckBox>("chkFilename").setChecked(onServer.ends_with('_'));
    Click(("cmd" + button).c_str());

    EXPECT_EQ(Editor().substr(0, after.size()), after) << Editor();
    const bool search = button == "Search";
    EXPECT_THAT(mShown, SizeIs(message.empty() ? 0 : 1));
    EXPECT_THAT(mShown, Each(FieldsAre(search ? "Error" : "", StartsWith(message),
                                       search ? MessageIcon::Critical : MessageIcon::None)));
    // What is uploaded: the picked file's bytes, or the editor's text in the server's code page.
    const std::string bytes = pick.empty() ? CodePage(949).FromUtf8(after) : "dll bytes";
    const fs::path remote = mServer.Root() / folder.substr(folder.empty() ? 0 : 1) / onServer;
    EXPECT_EQ(onServer.empty() ? bytes : test::ReadFile(remote), bytes);
    // Save writes the edit copy; a Search that connects replaces it, or leaves none.
    const bool replaced = button == "Save" || (search && port == up && message.empty());
    EXPECT_EQ(test::ReadFile(editCopy), replaced ? bytes : search && port == up ? "" : "edit copy");
    EXPECT_FALSE(Control<QCheckBox>("chkFilename").isChecked());
  }
}

// The entry lands at the caret and on the clipboard; a greyed check box counts as unchecked.
TEST_F(PublisherWindowTest, AddAndVersionTakeThePickedFile) {
  test::WriteVersionedFile(mDir / "x.dll",
                           {.FileVersion = {2, 5, 0, 7}, .Strings = {{"ProductVersion", "2.50"}}});
  mPick = (mDir / "x.dll").string();
  Connect("21", "/Harrowin/Sample");
  Control<QComboBox>("cboLocalPath").setCurrentText("$(WinSysPath)");
  Control<QLineEdit>("txtExe").setText("/s");
  for (const char* box : {"chkReg", "chkExe", "chkExtr"}) Control<QCheckBox>(box).setChecked(true);
  Control<QCheckBox>("chkWait").setCheckState(Qt::PartiallyChecked);
  Control<QPlainTextEdit>("txtINI").setPlainText("ab\ncd");
  Control<QPlainTextEdit>("txtINI").moveCursor(QTextCursor::NextCharacter);

  Click("cmdAdd");
  const std::string entry =
      "[File]\r\nKey=x.dll\r\nFileName=x.dll\r\nRealName=x.dll\r\nServer Path=/Harrowin/Sample\r\n"
      "Local Path=$(WinSysPath)\r\nFile Version=2.5.0.7\r\nProduct Version=2.50\r\nRegister="
      "$(DLLSelfRegister)\r\nCopyMode=Normal\r\nExecute=1\r\nExecute Option=/s\r\nWait=\r\n"
      "Extract=1\r\nExtract To=$(WinSysPath)\r\nSHA256=" +
      Sha256Hex(*Sha256OfFile(mDir / "x.dll"));
  EXPECT_EQ(Editor(), "a" + entry + "b\r\ncd");
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), entry);
  Click("cmdVersion");  // to the clipboard only
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "File Version=2.5.0.7\r\nProduct Version=2.50");
  EXPECT_EQ(Editor(), "a" + entry + "b\r\ncd");
}

TEST_F(PublisherWindowTest, ProgressShowsOnTheBarWhileTheWindowWorks) {
  auto& bar = Control<QLabel>("txtCurrent");
  // The width follows the frame's width in pixels; a total of 0 changes nothing.
  const std::tuple<std::int64_t, std::int64_t, const char*, int, int> events[] = {
      {512, 1024, "50%", 205, 392},
      {1, 3, "33%", 222, 262},
      {0, 0, "33%", 222, 262},
      {3LL << 32, 4LL << 32, "75%", 180, 588},
  };
  for (const auto& [current, total, text, grey, width] : events) {
    mWindow.ShowProgress(current, total);
    EXPECT_EQ(bar.text(), text) << current << "/" << total;
    EXPECT_EQ(bar.palette().color(QPalette::Window), QColor(grey, grey, grey));
    EXPECT_EQ(bar.width(), width) << current << "/" << total;
  }

  // The window works during a transfer (the timer fires at its first event); its buttons wait.
  test::WriteFile(mDir / "big.bin", std::string(200000, 'b'));
  mPick = (mDir / "big.bin").string();
  Connect(mServer.PortText(), "/Harrowin/Sample");
  int enabled = -1;  // until the call runs
  QTimer::singleShot(0, [&] {
    enabled = 0;
    for (const char* name : {"cmdSearch", "cmdSave", "cmdUp"}) enabled += Control(name).isEnabled();
    Click("cmdSearch");
  });
  Click("cmdUp");
  EXPECT_EQ(enabled, 0);
  EXPECT_EQ(Editor(), "") << "a search ran during the upload";
  EXPECT_EQ(bar.text(), "100%");
  EXPECT_EQ(test::ReadFile(mServer.Root() / "Harrowin/Sample/big.bin"), std::string(200000, 'b'));
}

}  // namespace
}  // namespace tandor
