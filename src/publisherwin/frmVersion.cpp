#include "publisherwin/frmVersion.h"

#include "ui/Messages.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QShowEvent>

#include "manifest/ManifestReader.h"
#include "manifest/RenumberEntries.h"
#include "platform/Error.h"
#include "platform/Unattended.h"
#include "ui/ProgressBar.h"
#include "updatewin/MessageBox.h"
#include "updatewin/WindowLook.h"

namespace tandor {

namespace {

// The window as designed, in twips.
constexpr int kClientWidth = 11850;
constexpr int kClientHeight = 7560;
constexpr TwipRect kLabels[] = {
    {240, 105, 840, 240},  {240, 495, 840, 240},   {120, 885, 960, 240},
    {600, 1275, 480, 240}, {6435, 120, 1200, 240}, {8070, 495, 960, 240},
};
const char* const kLabelTexts[] = {"Address", "Account",    "Password",
                                   "Path",    "Local Path", "CopyMode"};
constexpr TwipRect kCboAddress{1140, 60, 4005, 345};
constexpr TwipRect kTxtPort{5160, 60, 975, 330};
constexpr TwipRect kTxtAccount{1140, 450, 5000, 330};
constexpr TwipRect kTxtPasswd{1140, 840, 5000, 330};
constexpr TwipRect kCboServerPath{1140, 1230, 5025, 345};
constexpr TwipRect kCmdSearch{1140, 1620, 1200, 405};
constexpr TwipRect kCmdSave{2340, 1620, 1200, 405};
constexpr TwipRect kLblFileName{3630, 1710, 840, 225};
constexpr TwipRect kCboLocalPath{7725, 60, 4065, 345};
constexpr TwipRect kChkReg{6435, 450, 1155, 330};
constexpr TwipRect kCboCopyMode{9105, 450, 2685, 345};
constexpr TwipRect kChkExe{6435, 840, 1035, 330};
constexpr TwipRect kTxtExe{7515, 840, 4275, 330};
constexpr TwipRect kChkWait{6435, 1230, 735, 330};
constexpr TwipRect kChkExtr{7650, 1230, 1035, 330};
constexpr TwipRect kCmdAdd{8190, 1620, 1200, 405};
constexpr TwipRect kCmdVersion{9390, 1620, 1200, 405};
constexpr TwipRect kChkFilename{10680, 1290, 945, 330};
constexpr TwipRect kCmdUp{10590, 1620, 1200, 405};
constexpr TwipRect kTxtINI{60, 2085, 11715, 5145};
constexpr TwipRect kPictureBox{60, 7320, 11715, 225};

const char* const kLocalPaths[] = {"$(AppPath)",       "$(SystemDrive)",  "$(WinPath)",
                                   "$(WinSysPath)",    "$(ProgramFiles)", "$(CommonFiles)",
                                   "$(CommonFilesSys)"};
const char* const kCopyModes[] = {"Normal", "Force", "SkipIfSame", "SkipIfExists"};

const QColor kWindowColour(224, 224, 224);

QString ToQt(const std::string& text) {
  return QString::fromStdString(text);
}

std::string FromQt(const QString& text) {
  return text.toStdString();
}

// The editor keeps "\n" between lines; the manifest has CR LF.
QString ToEditor(const std::string& text) {
  return ToQt(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

void Place(QWidget& control, const char* name, const TwipRect& rect) {
  control.setObjectName(QString::fromLatin1(name));
  control.setGeometry(ToPixels(rect));
}

bool IsChecked(const QCheckBox& box) {
  // The greyed state counts as unchecked.
  return box.checkState() == Qt::Checked;
}

std::optional<std::string> ShowFileDialog(QWidget* parent) {
  // Nobody can pick a file: the dialog's default answer is Cancel.
  if (IsUnattended()) return std::nullopt;
  const QString path = QFileDialog::getOpenFileName(parent);
  if (path.isEmpty()) return std::nullopt;
  return FromQt(path);
}

}  // namespace

frmVersion::frmVersion(Setup setup)
    : QWidget(nullptr, Qt::Window),
      mSetup(std::move(setup)),
      mManifestName(ManifestFileName(mSetup.Version)),
      mPublisher(mSetup.EditCopy, mManifestName, mSetup.AnsiCodePage,
                 FtpEvents{[] { QCoreApplication::processEvents(); },
                           [this](std::int64_t current, std::int64_t total) {
                             ShowProgress(current, total);
                           },
                           [] { QCoreApplication::processEvents(); },
                           {}}),
      mCboAddress(this),
      mTxtPort(this),
      mTxtAccount(this),
      mTxtPasswd(this),
      mCboServerPath(this),
      mCmdSearch(QStringLiteral("Search"), this),
      mCmdSave(QStringLiteral("Save"), this),
      mLblFileName(this),
      mCboLocalPath(this),
      mChkReg(QStringLiteral("Register"), this),
      mCboCopyMode(this),
      mChkExe(QStringLiteral("Execute"), this),
      mTxtExe(this),
      mChkWait(QStringLiteral("Wait"), this),
      mChkExtr(QStringLiteral("Extract"), this),
      mCmdAdd(QStringLiteral("Add"), this),
      mCmdVersion(QStringLiteral("Version"), this),
      mChkFilename(QStringLiteral("*.*_"), this),
      mCmdUp(QStringLiteral("Upload"), this),
      mTxtINI(this),
      mPictureBox(this),
      mTxtCurrent(&mPictureBox) {
  mPublisher.SignWith(mSetup.SigningKey);
  mPublisher.StampWith({.ExpiresDays = mSetup.ExpiresDays});
  if (!mSetup.PickFile) mSetup.PickFile = [this] { return ShowFileDialog(this); };
  if (!mSetup.ShowMessage) {
    mSetup.ShowMessage = [](const std::string& title, const std::string& text, MessageIcon icon) {
      // A box without a title of its own carries the program's name.
      ShowMessageBox(title.empty() ? msg::kApplicationTitle : title, text, icon,
                     MessageButtons::Ok);
    };
  }
  BuildControls();
  PlaceEditor();
  connect(&mCmdSearch, &QPushButton::clicked, this, [this] { Search(); });
  connect(&mCmdSave, &QPushButton::clicked, this, [this] { Save(); });
  connect(&mCmdAdd, &QPushButton::clicked, this, [this] { Add(); });
  connect(&mCmdVersion, &QPushButton::clicked, this, [this] { CopyVersionLines(); });
  connect(&mCmdUp, &QPushButton::clicked, this, [this] { Upload(); });
  CentreOnScreen(*this);
}

void frmVersion::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // Again once the window has its frame, so that the frame is what sits in the middle.
  if (!mCentred) CentreOnScreen(*this);
  mCentred = true;
}

frmVersion::~frmVersion() {
  if (mBusy) QGuiApplication::restoreOverrideCursor();
}

void frmVersion::BuildControls() {
  resize(TwipsToPixels(kClientWidth), TwipsToPixels(kClientHeight));
  setMinimumSize(TwipsToPixels(MinClientWidth), TwipsToPixels(MinClientHeight));
  SetBackground(*this, kWindowColour);
  setFont(DesignFont("Courier New", 9, QFont::TypeWriter));
  setWindowTitle(ToQt(mSetup.Caption));
  const QFont large = DesignFont("Courier New", 9.75, QFont::TypeWriter);

  for (std::size_t i = 0; i < mLabels.size(); ++i) {
    mLabels[i].setParent(this);
    mLabels[i].setText(QString::fromLatin1(kLabelTexts[i]));
    mLabels[i].setFont(large);
    Place(mLabels[i], ("Label_" + std::to_string(i)).c_str(), kLabels[i]);
  }

  Place(mCboAddress, "cboAddress", kCboAddress);
  mCboAddress.setEditable(true);
  for (const QString& address : ToQt(mSetup.Addresses).split(u';', Qt::SkipEmptyParts))
    mCboAddress.addItem(address.trimmed());
  mCboAddress.setCurrentIndex(mCboAddress.count() > 0 ? 0 : -1);

  Place(mTxtPort, "txtPort", kTxtPort);
  mTxtPort.setText(QStringLiteral("21"));
  Place(mTxtAccount, "txtAccount", kTxtAccount);
  Place(mTxtPasswd, "txtPasswd", kTxtPasswd);
  mTxtPasswd.setEchoMode(QLineEdit::Password);
  mTxtPasswd.setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));

  Place(mCboServerPath, "cboServerPath", kCboServerPath);
  mCboServerPath.setEditable(true);
  mCboServerPath.setCurrentIndex(-1);

  Place(mCmdSearch, "cmdSearch", kCmdSearch);
  Place(mCmdSave, "cmdSave", kCmdSave);
  Place(mLblFileName, "lblFileName", kLblFileName);
  mLblFileName.setText(ToQt(mManifestName));

  Place(mCboLocalPath, "cboLocalPath", kCboLocalPath);
  mCboLocalPath.setEditable(true);
  for (const char* path : kLocalPaths) mCboLocalPath.addItem(QString::fromLatin1(path));
  mCboLocalPath.setCurrentIndex(-1);

  Place(mChkReg, "chkReg", kChkReg);
  Place(mCboCopyMode, "cboCopyMode", kCboCopyMode);
  mCboCopyMode.setEditable(true);
  for (const char* mode : kCopyModes) mCboCopyMode.addItem(QString::fromLatin1(mode));
  mCboCopyMode.setCurrentIndex(0);

  Place(mChkExe, "chkExe", kChkExe);
  Place(mTxtExe, "txtExe", kTxtExe);
  Place(mChkWait, "chkWait", kChkWait);
  Place(mChkExtr, "chkExtr", kChkExtr);
  Place(mCmdAdd, "cmdAdd", kCmdAdd);
  Place(mCmdVersion, "cmdVersion", kCmdVersion);
  Place(mChkFilename, "chkFilename", kChkFilename);
  Place(mCmdUp, "cmdUp", kCmdUp);

  Place(mTxtINI, "txtINI", kTxtINI);
  mTxtINI.setLineWrapMode(QPlainTextEdit::NoWrap);
  mTxtINI.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mTxtINI.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  BuildProgressBar(mPictureBox, mTxtCurrent, kPictureBox);

  for (QPushButton* button : {&mCmdSearch, &mCmdSave, &mCmdAdd, &mCmdVersion, &mCmdUp})
    button->setFont(large);
  mTxtCurrent.setFont(large);
  mLblFileName.setFont(large);

  // Keyboard order as designed; labels and the bar take no focus.
  QWidget* const order[] = {&mCboAddress,    &mTxtPort,     &mTxtAccount, &mTxtPasswd,
                            &mCboServerPath, &mCmdSearch,   &mCmdSave,    &mCboLocalPath,
                            &mChkReg,        &mCboCopyMode, &mChkExe,     &mTxtExe,
                            &mChkWait,       &mChkExtr,     &mCmdAdd,     &mCmdVersion,
                            &mChkFilename,   &mCmdUp,       &mTxtINI};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void frmVersion::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (!isMinimized()) PlaceEditor();
}

void frmVersion::PlaceEditor() {
  const EditorLayout layout =
      LayoutForClientArea(width() * TwipsPerPixel, height() * TwipsPerPixel);
  mTxtINI.setGeometry(ToPixels({kTxtINI.Left, kTxtINI.Top, layout.IniWidth, layout.IniHeight}));
  mPictureBox.setGeometry(
      ToPixels({kPictureBox.Left, layout.BarTop, layout.BarWidth, kPictureBox.Height}));
}

void frmVersion::closeEvent(QCloseEvent* event) {
  // Nothing is asked and nothing saved.
  event->accept();
  hide();
  mSetup.Closed();
}

ServerFields frmVersion::TypedServer() const {
  return {FromQt(mCboAddress.currentText()), FromQt(mTxtAccount.text()), FromQt(mTxtPasswd.text()),
          FromQt(mTxtPort.text())};
}

std::string frmVersion::ServerFolder() const {
  return FromQt(mCboServerPath.currentText());
}

std::string frmVersion::EditorText() const {
  return FromQt(mTxtINI.toPlainText().replace(u'\n', QStringLiteral("\r\n")));
}

void frmVersion::SetEditorText(const std::string& text) {
  mTxtINI.setPlainText(ToEditor(text));
}

std::optional<std::string> frmVersion::PickFile() {
  return mSetup.PickFile();
}

void frmVersion::Tell(const std::string& text, MessageIcon icon, const std::string& title) {
  mSetup.ShowMessage(title, text, icon);
}

void frmVersion::RunBusy(const std::function<void()>& work) {
  mBusy = true;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  // The progress events let the window work during a transfer; a second operation must not
  // start on top of this one.
  for (QPushButton* button : {&mCmdSearch, &mCmdSave, &mCmdUp}) button->setEnabled(false);
  work();
  for (QPushButton* button : {&mCmdSearch, &mCmdSave, &mCmdUp}) button->setEnabled(true);
  QGuiApplication::restoreOverrideCursor();
  mBusy = false;
}

void frmVersion::Search() {
  if (mBusy) return;
  SearchOutcome outcome;
  RunBusy([&] { outcome = mPublisher.Search(TypedServer(), ServerFolder()); });
  if (outcome.Result == SearchOutcome::Kind::Failed)
    Tell(outcome.Text, MessageIcon::Critical, "Error");
  else
    SetEditorText(outcome.Text);
}

void frmVersion::Save() {
  if (mBusy) return;
  const ManifestToSave manifest =
      mPublisher.PrepareForSave(ServerFolder(), RenumberEntries(EditorText()));
  if (!manifest.Text) return Tell(manifest.Problem);
  SetEditorText(*manifest.Text);
  std::optional<std::string> failure;
  RunBusy([&] { failure = mPublisher.Save(TypedServer(), ServerFolder(), *manifest.Text); });
  if (failure) Tell(*failure);
}

void frmVersion::Add() {
  const std::optional<std::string> path = PickFile();
  if (!path) return;
  try {
    const PickedVersions versions = ReadPickedVersions(*path, *mSetup.Versions);
    const EntryChoices choices{ServerFolder(),
                               FromQt(mCboLocalPath.currentText()),
                               FromQt(mCboCopyMode.currentText()),
                               FromQt(mTxtExe.text()),
                               IsChecked(mChkReg),
                               IsChecked(mChkExe),
                               IsChecked(mChkWait),
                               IsChecked(mChkExtr)};
    const std::string text = EntryText(FileNameOfPath(*path), versions, choices);
    mTxtINI.setFocus();
    QGuiApplication::clipboard()->setText(ToQt(text));
    // Lands at the caret in place of any selection, as a paste would.
    mTxtINI.insertPlainText(ToEditor(text));
  } catch (const RuntimeError& error) {
    Tell(error.Description());
  }
}

void frmVersion::CopyVersionLines() {
  const std::optional<std::string> path = PickFile();
  if (!path) return;
  try {
    QGuiApplication::clipboard()->setText(
        ToQt(VersionLines(ReadPickedVersions(*path, *mSetup.Versions))));
  } catch (const RuntimeError& error) {
    Tell(error.Description());
  }
}

void frmVersion::Upload() {
  if (mBusy) return;
  const std::optional<std::string> path = PickFile();
  if (!path) return;
  const UploadName name = ChooseUploadName(FileNameOfPath(*path), IsChecked(mChkFilename));
  if (name.Substituted) mChkFilename.setCheckState(Qt::Unchecked);
  std::optional<std::string> failure;
  RunBusy([&] { failure = mPublisher.Upload(TypedServer(), ServerFolder(), *path, name.Name); });
  if (failure) Tell(*failure);
}

void frmVersion::ShowProgress(std::int64_t currentBytes, std::int64_t totalBytes) {
  if (auto look = ComputeProgressBar(currentBytes, totalBytes, mPictureBox.width() * TwipsPerPixel))
    ShowProgressLook(mTxtCurrent, *look);
  QCoreApplication::processEvents();
}

}  // namespace tandor
