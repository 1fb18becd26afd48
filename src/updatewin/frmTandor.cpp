#include "updatewin/frmTandor.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputDialog>
#include <algorithm>
#include <cstdio>

#include "platform/Unattended.h"
#include "ui/ConsoleWindow.h"
#include "ui/Messages.h"
#include "updatewin/MessageBox.h"
#include "updatewin/WindowLook.h"

namespace tandor {

namespace {

// The window as designed, in twips.
constexpr int kClientWidth = 6120;
constexpr int kClientHeight = 3210;
constexpr TwipRect kLstCurrent{60, 540, 5985, 2340};
constexpr TwipRect kPictureBox{60, 2940, 5985, 225};
constexpr TwipRect kCmdExit{5070, 60, 975, 405};
constexpr int kTimerIntervalMs = 1;

const QColor kWindowColour(224, 224, 224);
using msg::kApplicationTitle;

// Shows the normal pointer while the user answers a box, then the hourglass again.
class NormalPointerWhileAsking {
 public:
  explicit NormalPointerWhileAsking(bool busy) : mBusy(busy) {
    if (mBusy) QGuiApplication::restoreOverrideCursor();
  }
  ~NormalPointerWhileAsking() {
    if (mBusy) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  }
  NormalPointerWhileAsking(const NormalPointerWhileAsking&) = delete;
  NormalPointerWhileAsking& operator=(const NormalPointerWhileAsking&) = delete;

 private:
  bool mBusy;
};

}  // namespace

frmTandor::frmTandor(ExitHandler onExit, Clock clock)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      mOnExit(std::move(onExit)),
      mClock(std::move(clock)),
      mLstCurrent(this),
      mPictureBox(this),
      mTxtCurrent(&mPictureBox),
      mCmdExit(QStringLiteral("EXIT"), this),
      mTimer(this) {
  BuildControls();
  connect(&mCmdExit, &QPushButton::clicked, this, [this] { RequestExit(); });
}

frmTandor::~frmTandor() {
  if (mBusy) QGuiApplication::restoreOverrideCursor();
}

void frmTandor::BuildControls() {
  setFixedSize(TwipsToPixels(kClientWidth), TwipsToPixels(kClientHeight));
  SetBackground(*this, kWindowColour);
  setFont(DesignFont("Tahoma", 9, QFont::SansSerif));

  mLstCurrent.setObjectName(QStringLiteral("lstCurrent"));
  mLstCurrent.setGeometry(ToPixels(kLstCurrent));
  mLstCurrent.setSelectionMode(QAbstractItemView::SingleSelection);
  // Lines mix Latin and Hangul: one family that has both keeps them in one face.
  mLstCurrent.setFont(DesignFont("NanumGothic", 9, QFont::SansSerif));
  // Every line is one line of the same font. Without this the list measures every line again
  // for each line added, and a pass over a thousand files spends most of its time doing so.
  mLstCurrent.setUniformItemSizes(true);

  BuildProgressBar(mPictureBox, mTxtCurrent, kPictureBox);

  mCmdExit.setObjectName(QStringLiteral("cmdExit"));
  mCmdExit.setGeometry(ToPixels(kCmdExit));

  mTimer.setObjectName(QStringLiteral("Timer"));
  mTimer.setInterval(kTimerIntervalMs);
}

void frmTandor::AppendLine(const std::string& text) {
  mLstCurrent.addItem(QString::fromStdString(text));
  if (IsUnattended()) {
    // Nobody watches the window: the list goes to standard output as it grows.
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
}

void frmTandor::AddLine(const std::string& text) {
  AppendLine(text);
  SelectLastLine();
}

void frmTandor::AddLineUnselected(const std::string& text) {
  AppendLine(text);
}

void frmTandor::SelectLastLine() {
  mSelectionPending = true;
}

void frmTandor::ApplyPendingSelection() {
  if (!mSelectionPending) return;
  mSelectionPending = false;
  const int last = mLstCurrent.count() - 1;
  if (last < 0) return;
  mLstCurrent.setCurrentRow(last);
  mLstCurrent.scrollToItem(mLstCurrent.item(last));
}

void frmTandor::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void frmTandor::Centre() {
  CentreOnScreen(*this);
}

void frmTandor::Show() {
  show();
}

void frmTandor::Hide() {
  hide();
}

void frmTandor::SetBusyPointer(bool busy) {
  if (busy == mBusy) return;
  if (busy)
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  else
    QGuiApplication::restoreOverrideCursor();
  mBusy = busy;
}

void frmTandor::ProcessPendingMessages() {
  const auto now = mClock();
  if (mLastPump && now - *mLastPump < PumpInterval) return;
  mLastPump = now;
  ApplyPendingSelection();
  QCoreApplication::processEvents();
}

void frmTandor::ShowProgress(std::int64_t currentBytes, std::int64_t totalBytes) {
  if (auto look = ComputeProgressBar(currentBytes, totalBytes, kPictureBox.Width)) {
    // The widgets change at once, whenever the text or the width in pixels does (so a new file
    // never starts on the last one's 100 %); they are painted at the next pump.
    if (!mShownLook || look->Text != mShownLook->Text || look->Grey != mShownLook->Grey ||
        TwipsToPixels(look->WidthTwips) != TwipsToPixels(mShownLook->WidthTwips)) {
      ApplyProgress(*look);
      mShownLook = std::move(look);
    }
  }
  ProcessPendingMessages();
}

void frmTandor::ApplyProgress(const ProgressBarLook& look) {
  ShowProgressLook(mTxtCurrent, look);
}

MessageAnswer frmTandor::ShowMessage(const std::string& title, const std::string& text,
                                     MessageIcon icon, MessageButtons buttons) {
  NormalPointerWhileAsking pointer(mBusy);
  ApplyPendingSelection();
  return ShowMessageBox(title.empty() ? kApplicationTitle : title, text, icon, buttons);
}

std::string frmTandor::AskPassword(const std::string& prompt) {
  if (IsUnattended()) {
    PrintUnattendedMessage(kApplicationTitle, prompt);
    return {};
  }
  NormalPointerWhileAsking pointer(mBusy);
  QInputDialog box(this);
  box.setWindowTitle(QString::fromLatin1(kApplicationTitle));
  box.setLabelText(QString::fromStdString(prompt));
  box.setTextValue(QString());
  box.setOkButtonText(QStringLiteral("확인"));
  box.setCancelButtonText(QStringLiteral("취소"));
  if (box.exec() != QDialog::Accepted) return {};
  return box.textValue().toStdString();
}

void frmTandor::RequestExit() {
  mExitRequested = true;
  mOnExit();
}

void frmTandor::Unload() {
  hide();
  RequestExit();
}

void frmTandor::closeEvent(QCloseEvent* event) {
  // The unload is never cancelled.
  event->accept();
  Unload();
}

}  // namespace tandor
