// The publisher window offscreen against a real FTP server: controls, resizing, the buttons,
// the progress bar, and a rendered image kept beside the test programs (to be looked at).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "VersionedElf.h"
#include "platform/Prefix.h"
#include "publisher/frmVersion.h"
#include "support/FtpServer.h"
#include "support/TempDir.h"
#include "support/TransferData.h"
#include "util/Integrity.h"

namespace tandor {
namespace {

namespace fs = std::filesystem;

QRect Twips(int left, int top, int width, int height) {
  return QRect(left / 15, top / 15, width / 15, height / 15);
}

class PublisherWindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "publisher_window_test";
    static char* argv[] = {name, nullptr};
    sApp = std::make_unique<QApplication>(argc, argv);
  }
  static void TearDownTestSuite() { sApp.reset(); }

  PublisherWindowTest() : mMachine(Prefix::Open(mDir / "prefix")), mVersions(mMachine, {}) {
    fs::create_directories(mServer.Root() / "Harrowin" / "Sample");
    fs::create_directories(mDir / "app");
    frmVersion::Setup setup{
        mDir / "app" / "Tandor10.ini",
        CodePage(949),  // manifests written on Korean Windows
        {1, 0, 210},
        "Tandor 1.0.210",
        &mVersions,
        "127.0.0.1;update.example",
        [this] { ++mEnds; },
        [this] { return mPick; },
        [this](const std::string& title, const std::string& text, MessageIcon icon) {
          mShown.push_back({title, text, icon});
        }};
    mWindow = std::make_unique<frmVersion>(std::move(setup));
  }

  template <typename T = QWidget>
  T& Control(const char* name) {
    T* control = mWindow->findChild<T*>(QString::fromLatin1(name));
    if (!control) throw std::runtime_error(std::string("no control ") + name);
    return *control;
  }
  std::string Editor() {
    return Control<QPlainTextEdit>("txtINI").toPlainText().replace("\n", "\r\n").toStdString();
  }
  void Type(const char* field, const std::string& text) {
    if (auto* combo = mWindow->findChild<QComboBox*>(field)) combo->setCurrentText(text.c_str());
    if (auto* line = mWindow->findChild<QLineEdit*>(field)) line->setText(text.c_str());
  }
  void Click(const char* button) { QTest::mouseClick(&Control(button), Qt::LeftButton); }
  void Connect(const std::string& port, const std::string& folder) {
    Type("txtPort", port);
    Type("txtAccount", mServer.User());
    Type("txtPasswd", mServer.Password());
    Type("cboServerPath", folder);
  }

  struct Shown {
    std::string Title, Text;
    MessageIcon Icon;
  };
  test::TempDir mDir;
  test::FtpServer mServer{mDir / "srv"};
  Prefix mMachine;
  VersionInfoQuery mVersions;
  std::optional<std::string> mPick;
  std::vector<Shown> mShown;
  int mEnds = 0;
  std::unique_ptr<frmVersion> mWindow;
  static std::unique_ptr<QApplication> sApp;
};

std::unique_ptr<QApplication> PublisherWindowTest::sApp;

TEST_F(PublisherWindowTest, ControlsFollowTheDesignAndTheWindowResizes) {
  mWindow->show();
  EXPECT_EQ(mWindow->size(), QSize(790, 504));
  EXPECT_EQ(mWindow->windowTitle(), "Tandor 1.0.210");
  EXPECT_EQ(mWindow->palette().color(QPalette::Window), QColor(224, 224, 224));
  EXPECT_EQ(QFontInfo(mWindow->font()).family(), "Liberation Mono");
  EXPECT_EQ(mWindow->frameGeometry().center(), mWindow->screen()->geometry().center());

  // clang-format off
  const struct { const char* Name; const char* Kind; const char* Caption; QRect Place; double Pt; }
      controls[] = {
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
      // The editor and the bar's frame follow the resize rule from the start.
      {"txtINI", "QPlainTextEdit", "", Twips(60, 2085, 11730, 5130), 9},
      {"PictureBox", "QFrame", "", Twips(60, 7275, 11730, 225), 9},
      {"txtCurrent", "QLabel", "0%", Twips(-30, -60, 360, 360), 9.75},
  };
  // clang-format on
  std::vector<QWidget*> tabStops;
  for (const auto& c : controls) {
    SCOPED_TRACE(c.Name);
    QWidget& control = Control(c.Name);
    EXPECT_STREQ(control.metaObject()->className(), c.Kind);
    EXPECT_EQ(control.geometry(), c.Place);
    EXPECT_EQ(control.font().pointSizeF(), c.Pt);
    QString caption = control.property("text").toString();
    if (auto* combo = qobject_cast<QComboBox*>(&control)) caption = combo->currentText();
    EXPECT_EQ(caption.toStdString(), c.Caption);
    if (control.focusPolicy() & Qt::TabFocus) tabStops.push_back(&control);
  }
  // Tab goes from each control that takes focus to the next one in the table.
  for (std::size_t i = 1; i < tabStops.size(); ++i) {
    QWidget* next = tabStops[i - 1]->nextInFocusChain();
    while (std::find(tabStops.begin(), tabStops.end(), next) == tabStops.end())
      next = next->nextInFocusChain();
    EXPECT_EQ(next, tabStops[i]) << tabStops[i]->objectName().toStdString();
  }
  EXPECT_EQ(Control<QComboBox>("cboAddress").itemText(1), "update.example");
  EXPECT_EQ(Control<QComboBox>("cboLocalPath").itemText(6), "$(CommonFilesSys)");
  EXPECT_EQ(Control<QComboBox>("cboCopyMode").itemText(3), "SkipIfExists");
  EXPECT_EQ(Control<QLineEdit>("txtPasswd").echoMode(), QLineEdit::Password);

  const struct {
    QSize Asked, Got;
    QRect Editor, Frame;
  } sizes[] = {
      {{1000, 700}, {1000, 700}, Twips(60, 2085, 14880, 8070), Twips(60, 10215, 14880, 225)},
      // The lower bound keeps the editor and the left-hand fields in view.
      {{100, 100}, {429, 240}, Twips(60, 2085, 6315, 1170), Twips(60, 3315, 6315, 225)},
      {{900, 600}, {900, 600}, Twips(60, 2085, 13380, 6570), Twips(60, 8715, 13380, 225)},
      // Minimized: the controls stay as they were.
      {{500, 300}, {500, 300}, Twips(60, 2085, 13380, 6570), Twips(60, 8715, 13380, 225)},
  };
  for (const auto& s : sizes) {
    if (s.Asked.width() == 500) mWindow->setWindowState(Qt::WindowMinimized);
    mWindow->resize(s.Asked);
    EXPECT_EQ(mWindow->size(), s.Got);
    EXPECT_EQ(Control("txtINI").geometry(), s.Editor) << s.Asked.width();
    EXPECT_EQ(Control("PictureBox").geometry(), s.Frame) << s.Asked.width();
  }

  mWindow->setWindowState(Qt::WindowNoState);
  mWindow->resize(790, 504);
  Control<QPlainTextEdit>("txtINI").setPlainText("[Files]\n[File1]\nKey=Sample.dll\n한글");
  Control<QCheckBox>("chkReg").setChecked(true);
  mWindow->ShowProgress(512, 1024);
  mWindow->grab().save(QString(TANDOR_TEST_BUILD_DIR) + "/publisher_window.png");

  mWindow->close();  // ends the program at once, unsaved text or not, asking nothing
  EXPECT_EQ(mEnds, 1);
  EXPECT_FALSE(mWindow->isVisible());
  EXPECT_TRUE(mShown.empty());
}

TEST_F(PublisherWindowTest, ButtonsWorkAgainstTheServer) {
  const fs::path sample = mServer.Root() / "Harrowin" / "Sample";
  const fs::path local = mDir / "local";
  const fs::path editCopy = mDir / "app" / "Tandor10.ini";
  test::WriteFile(sample / "Tandor10.ini", "[Files]\r\n[File1]\r\nKey=\xbb\xf9\xc7\xc3");
  test::WriteFile(local / "Sample.dll", "dll bytes");
  test::WriteFile(local / "Tandor", "updater");
  const std::string up = mServer.PortText();
  const std::string down = std::to_string(test::FtpServer(mDir / "gone").Port());
  const std::string gone = (local / "gone.dll").string();
  const std::string noServer = "InternetConnect error code: ";
  const std::string S = "/Harrowin/Sample";

  // clang-format off
  const struct {
    const char* Button; std::string Port, Folder, Before; std::optional<std::string> Pick;
    bool Substitute; std::string After, Message, ServerFile, ServerBytes;
  } cases[] = {
      // Search: the manifest; a box when there is none; without a server the reason in the editor.
      {"cmdSearch", up, S, "old", {}, false, "[Files]\r\n[File1]\r\nKey=샘플", "", "", ""},
      {"cmdSearch", up, "/Harrowin/None", "kept", {}, false, "kept", "File not found", "", ""},
      {"cmdSearch", down, S, "old", {}, false, noServer, "", "", ""},
      {"cmdSearch", "2x1", S, "old", {}, false, "Type mismatch", "", "", ""},
      // Save: numbered, written, uploaded as the editor then shows it; any failure is said.
      {"cmdSave", up, S, "[Files]\r\n[File]\r\nK=a\r\n[FILE]", {}, false,
       "[Files]\r\n[File1]\r\nK=a\r\n[File2]", "", S + "/Tandor10.ini", ""},
      {"cmdSave", up, "", "[File]\r\nK=샘플", {}, false, "[Files]\r\nK=샘플", "", "/Tandor10.ini",
       "[Files]\r\nK=\xbb\xf9\xc7\xc3"},
      {"cmdSave", down, S, "[Files]", {}, false, "[Files]", noServer, "", ""},
      {"cmdSave", up, "/Nowhere", "[Files]", {}, false, "[Files]", "550 ", "", ""},
      // Upload: own or substitute name; failures said; cancel does nothing.
      {"cmdUp", up, S, "", "Sample.dll", false, "", "", S + "/Sample.dll", "dll bytes"},
      {"cmdUp", up, S, "", "Sample.dll", true, "", "", S + "/Sample.dl_", "dll bytes"},
      {"cmdUp", up, S, "", "Tandor", false, "", "", S + "/Tando_", "updater"},
      {"cmdUp", down, S, "", "Sample.dll", false, "", noServer, "", ""},
      {"cmdUp", up, "/Nowhere", "", "Sample.dll", false, "", "550 ", "", ""},
      {"cmdUp", up, S, "", "gone.dll", false, "", gone, "", ""},
      {"cmdUp", up, S, "x", {}, false, "x", "", "", ""},
      {"cmdAdd", up, "", "x", {}, false, "x", "", "", ""},
      {"cmdAdd", up, "", "x", "gone.dll", false, "x", "File not found", "", ""},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Button << " " << c.Folder << " " << c.Before);
    mShown.clear();
    test::WriteFile(editCopy, "edit copy");
    Connect(c.Port, c.Folder);
    Control<QPlainTextEdit>("txtINI").setPlainText(c.Before.c_str());
    mPick = c.Pick ? std::optional((local / *c.Pick).string()) : std::nullopt;
    Control<QCheckBox>("chkFilename").setChecked(c.Substitute);
    Click(c.Button);

    EXPECT_EQ(Editor().substr(0, c.After.size()), c.After) << Editor();
    ASSERT_EQ(mShown.size(), c.Message.empty() ? 0u : 1u);
    const std::string button = c.Button;
    if (!mShown.empty()) {
      EXPECT_EQ(mShown[0].Text.substr(0, c.Message.size()), c.Message) << mShown[0].Text;
      EXPECT_EQ(mShown[0].Title, button == "cmdSearch" ? "Error" : "");
      EXPECT_EQ(mShown[0].Icon, button == "cmdSearch" ? MessageIcon::Critical : MessageIcon::None);
    }
    if (!c.ServerFile.empty()) {
      EXPECT_EQ(test::ReadFile(mServer.Root() / c.ServerFile.substr(1)),
                c.ServerBytes.empty() ? c.After : c.ServerBytes);
    }
    if (button == "cmdSearch" && c.Port == up) {  // a connection: the old edit copy is gone
      EXPECT_EQ(test::ReadFile(editCopy),
                c.Message.empty() ? test::ReadFile(sample / "Tandor10.ini") : "");
    }
    if (button == "cmdSave") {
      EXPECT_EQ(test::ReadFile(editCopy), c.ServerBytes.empty() ? c.After : c.ServerBytes);
    }
    EXPECT_FALSE(Control<QCheckBox>("chkFilename").isChecked());
  }
  EXPECT_FALSE(fs::exists(sample / "Tandor"));
}

TEST_F(PublisherWindowTest, AddAndVersionTakeThePickedFile) {
  test::VersionSpec wanted;
  wanted.FileVersion = {2, 5, 0, 7};
  wanted.Strings = {{"ProductVersion", "2.50"}};
  test::WriteVersionedFile(mDir / "x.dll", wanted);
  mPick = (mDir / "x.dll").string();
  Type("cboServerPath", "/Harrowin/Sample");
  Type("cboLocalPath", "$(WinSysPath)");
  Control<QCheckBox>("chkReg").setChecked(true);
  Control<QCheckBox>("chkWait").setCheckState(Qt::PartiallyChecked);  // greyed is unchecked
  auto& editor = Control<QPlainTextEdit>("txtINI");
  editor.setPlainText("aXb\ncd");
  QTextCursor caret = editor.textCursor();
  caret.setPosition(1);
  caret.setPosition(2, QTextCursor::KeepAnchor);  // "X" selected
  editor.setTextCursor(caret);

  Click("cmdAdd");
  const std::string entry =
      EntryText("x.dll", {"2.5.0.7", "2.50", Sha256Hex(*Sha256OfFile(mDir / "x.dll"))},
                {"/Harrowin/Sample", "$(WinSysPath)", "Normal", "", true});
  EXPECT_EQ(Editor(), "a" + entry + "b\r\ncd");
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), entry);

  Click("cmdVersion");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "File Version=2.5.0.7\r\nProduct Version=2.50");
  EXPECT_EQ(Editor(), "a" + entry + "b\r\ncd");
  EXPECT_TRUE(mShown.empty());
}

TEST_F(PublisherWindowTest, ProgressShowsOnTheBarWhileTheWindowWorks) {
  auto& bar = Control<QLabel>("txtCurrent");
  const struct {
    std::int64_t Current, Total;
    const char* Text;
    int Grey, Width;
  } events[] = {
      {512, 1024, "50%", 205, 392},
      {1, 3, "33%", 222, 262},
      {5, 1000, "0%", 255, 5},
      {15, 1000, "2%", 253, 13},
      {0, 0, "2%", 253, 13},  // a total of 0 changes nothing
      {3LL << 32, 4LL << 32, "75%", 180, 588},
  };
  for (const auto& e : events) {
    mWindow->ShowProgress(e.Current, e.Total);
    EXPECT_EQ(bar.text(), e.Text) << e.Current << "/" << e.Total;
    EXPECT_EQ(bar.palette().color(QPalette::Window), QColor(e.Grey, e.Grey, e.Grey));
    EXPECT_EQ(bar.width(), e.Width) << e.Current << "/" << e.Total;
  }

  // During a transfer the window works, but the server buttons wait for it to end.
  test::WriteFile(mDir / "big.bin", test::PatternBytes(200000));
  mPick = (mDir / "big.bin").string();
  Connect(mServer.PortText(), "/Harrowin/Sample");
  int ticks = 0, enabled = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    for (const char* name : {"cmdSearch", "cmdSave", "cmdUp"}) enabled += Control(name).isEnabled();
    Click("cmdSearch");
  });
  timer.start(0);
  Click("cmdUp");
  timer.stop();
  EXPECT_GT(ticks, 0);
  EXPECT_EQ(enabled, 0);
  EXPECT_EQ(Editor(), "") << "a search ran during the upload";
  EXPECT_EQ(bar.text(), "100%");
  EXPECT_EQ(test::ReadFile(mServer.Root() / "Harrowin/Sample/big.bin"), test::PatternBytes(200000));
}

}  // namespace
}  // namespace tandor
