// The publisher window offscreen against a real FTP server.

#include "publisherwin/frmVersion.h"

#include <gmock/gmock.h>

#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QTimer>

#include "VersionedElf.h"
#include "platform/Prefix.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;
using testing::EndsWith, testing::Each, testing::FieldsAre, testing::HasSubstr, testing::SizeIs,
    testing::StartsWith;

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

  // In tab order, with what each shows at first; labels and the bar take no focus.
  const char* const controls[] = {
      "Label_0",   "cboAddress",   "txtPort",       "Label_1",   "txtAccount",  "Label_2",
      "txtPasswd", "Label_3",      "cboServerPath", "cmdSearch", "cmdSave",     "lblFileName",
      "Label_4",   "cboLocalPath", "chkReg",        "Label_5",   "cboCopyMode", "chkExe",
      "txtExe",    "chkWait",      "chkExtr",       "cmdAdd",    "cmdVersion",  "chkFilename",
      "cmdUp",     "txtINI",       "PictureBox",    "txtCurrent"};
  QStringList captions;
  std::vector<QWidget*> tabStops;
  for (const char* name : controls) {
    QWidget& control = Control(name);
    auto* combo = qobject_cast<QComboBox*>(&control);
    captions << (combo ? combo->currentText() : control.property("text").toString());
    if (control.focusPolicy() & Qt::TabFocus) tabStops.push_back(&control);
  }
  EXPECT_EQ(captions.join('|'),
            "Address|127.0.0.1|21|Account||Password||Path||Search|Save|Tandor10.ini|Local Path||"
            "Register|CopyMode|Normal|Execute||Wait|Extract|Add|Version|*.*_|Upload|||0%");
  for (std::size_t i = 1; i < tabStops.size(); ++i) {
    QWidget* next = tabStops[i - 1]->nextInFocusChain();
    while (std::find(tabStops.begin(), tabStops.end(), next) == tabStops.end())
      next = next->nextInFocusChain();
    EXPECT_EQ(next, tabStops[i]) << tabStops[i]->objectName().toStdString();
  }
  EXPECT_EQ(Control<QLineEdit>("txtPasswd").echoMode(), QLineEdit::Password);

  // The lower bound keeps the editor and the left-hand fields in view; minimized, nothing moves.
  const std::tuple<QSize, QSize, QRect, QRect, bool> sizes[] = {
      {{100, 100}, {429, 240}, QRect(4, 139, 421, 78), QRect(4, 221, 421, 15), false},
      {{1000, 700}, {1000, 700}, QRect(4, 139, 992, 538), QRect(4, 681, 992, 15), false},
      {{500, 300}, {500, 300}, QRect(4, 139, 992, 538), QRect(4, 681, 992, 15), true},
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
  // server. Search's box is titled Error; Save numbers entries and, unsigned, adds nothing; *.*_
  // renames. An empty port is 21, where nothing listens.
  const std::array<std::string, 8> cases[] = {
      {"Search", up, S, "old", "", found, "", ""},
      {"Search", up, "/Harrowin/None", "kept", "", "kept", "File not found", ""},
      {"Search", down, S, "old", "", noServer, "", ""},
      {"Search", "2x1", S, "old", "", "Type mismatch", "", ""},
      {"Search", "", S, "old", "", noServer, "", ""},
      {"Save", up, S, "[Files]\n[File]\nK=a\n[FILE]", "", "[Files]\r\n[File1]\r\nK=a\r\n[File2]",
       "", "Tandor10.ini"},
      {"Save", up, "", "[File]\nSerial=7\nK=샘플", "", "[Files]\r\nSerial=7\r\nK=샘플", "",
       "Tandor10.ini"},
      {"Save", up, "/Nowhere", "[Files]", "", "[Files]", "550 ", ""},
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
  Control<QComboBox>("cboLocalPath").setCurrentText("$(WinSysPath)");
  for (const char* box : {"chkReg", "chkExtr"}) Control<QCheckBox>(box).setChecked(true);
  Control<QCheckBox>("chkWait").setCheckState(Qt::PartiallyChecked);
  Control<QPlainTextEdit>("txtINI").setPlainText("ab");
  Control<QPlainTextEdit>("txtINI").moveCursor(QTextCursor::NextCharacter);
  Click("cmdAdd");
  const std::string entry = QGuiApplication::clipboard()->text().toStdString();
  EXPECT_EQ(Editor(), "a" + entry + "b");
  EXPECT_THAT(entry,
              HasSubstr("Register=$(DLLSelfRegister)\r\nCopyMode=Normal\r\nExecute=\r\n"
                        "Execute Option=\r\nWait=\r\nExtract=1\r\nExtract To=$(WinSysPath)"));
  EXPECT_THAT(entry, EndsWith("\r\nSize=" + std::to_string(fs::file_size(mDir / "x.dll"))));
  Click("cmdVersion");  // to the clipboard only
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "File Version=2.5.0.7\r\nProduct Version=2.50");
  EXPECT_EQ(Editor(), "a" + entry + "b");
}

TEST_F(PublisherWindowTest, ProgressShowsOnTheBarWhileTheWindowWorks) {
  auto& bar = Control<QLabel>("txtCurrent");
  mWindow.ShowProgress(1, 3);
  mWindow.ShowProgress(1, 0);  // a total of 0 changes nothing
  EXPECT_EQ(bar.text(), "33%");
  EXPECT_EQ(bar.palette().color(QPalette::Window), QColor(222, 222, 222));
  EXPECT_EQ(bar.width(), 262);  // follows the frame's width in pixels

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
