#pragma once
// The publisher window: the operator loads a product's manifest from the FTP server, adds
// entries for local files, saves and uploads the manifest and uploads files.

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/CodePage.h"
#include "publisher/Publisher.h"
#include "ui/UpdateWindow.h"
#include "util/FileVersion.h"

namespace tandor {

class frmVersion : public QWidget {
  Q_OBJECT

 public:
  struct Setup {
    std::filesystem::path EditCopy;  // the manifest's edit copy in the application folder
    CodePage AnsiCodePage;
    ProgramVersion Version;  // the program's own version: the manifest's name
    std::string Caption;     // "Tandor " + the program's own version
    VersionInfoQuery* Versions = nullptr;
    std::string Addresses;         // server addresses offered, separated by ';'
    std::function<void()> Closed;  // the window was closed: the program around it ends
    // The file dialog: a full path, or nothing when the operator cancels.
    std::function<std::optional<std::string>()> PickFile;
    // A message box; an empty title is the program's own.
    std::function<void(const std::string& title, const std::string& text, MessageIcon icon)>
        ShowMessage;
    std::filesystem::path SigningKey = {};  // the secret key Save signs with; empty: unsigned
    // Days a signed save holds (0: no expiry); nothing: as long as the manifest held before.
    std::optional<int> ExpiresDays = {};
  };

  explicit frmVersion(Setup setup);
  ~frmVersion() override;

  // The buttons' work, also reachable without a click.
  void Search();
  void Save();
  void Add();
  void CopyVersionLines();
  void Upload();

  // FileTransferProgress of the operation's connection.
  void ShowProgress(std::int64_t currentBytes, std::int64_t totalBytes);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void PlaceEditor();
  ServerFields TypedServer() const;
  std::string ServerFolder() const;
  std::string EditorText() const;
  void SetEditorText(const std::string& text);
  // The picked file, nothing when cancelled.
  std::optional<std::string> PickFile();
  void Tell(const std::string& text, MessageIcon icon = MessageIcon::None,
            const std::string& title = "");
  // Runs `work` with the hourglass and the server buttons disabled.
  void RunBusy(const std::function<void()>& work);

  Setup mSetup;
  std::string mManifestName;
  Publisher mPublisher;
  bool mBusy = false;
  bool mCentred = false;

  // Children of this window, declared before use; the frame before the bar inside it.
  std::array<QLabel, 6> mLabels;
  QComboBox mCboAddress;
  QLineEdit mTxtPort;
  QLineEdit mTxtAccount;
  QLineEdit mTxtPasswd;
  QComboBox mCboServerPath;
  QPushButton mCmdSearch;
  QPushButton mCmdSave;
  QLabel mLblFileName;
  QComboBox mCboLocalPath;
  QCheckBox mChkReg;
  QComboBox mCboCopyMode;
  QCheckBox mChkExe;
  QLineEdit mTxtExe;
  QCheckBox mChkWait;
  QCheckBox mChkExtr;
  QPushButton mCmdAdd;
  QPushButton mCmdVersion;
  QCheckBox mChkFilename;
  QPushButton mCmdUp;
  QPlainTextEdit mTxtINI;
  QFrame mPictureBox;
  QLabel mTxtCurrent;
};

}  // namespace tandor
