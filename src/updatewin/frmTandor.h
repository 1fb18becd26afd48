#pragma once
// The update window: the list of steps, the progress bar and the EXIT button. The update pass
// drives it through UpdateWindow; the launcher uses only its timer.

#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ui/ProgressBar.h"
#include "ui/UpdateWindow.h"

namespace tandor {

class frmTandor : public QWidget, public UpdateWindow {
  Q_OBJECT

 public:
  using ExitHandler = std::function<void()>;
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // EXIT and the close box note the request (ExitRequested) and call `onExit`, which ends the
  // program unless a pass runs: that one stops at its next look. `clock` paces the processing
  // of window events.
  explicit frmTandor(ExitHandler onExit, Clock clock = std::chrono::steady_clock::now);
  ~frmTandor() override;

  void AddLine(const std::string& text) override;
  void AddLineUnselected(const std::string& text) override;
  void SelectLastLine() override;
  void SetCaption(const std::string& caption) override;
  void Centre() override;
  void Show() override;
  void Hide() override;
  void SetBusyPointer(bool busy) override;
  // Delivers queued input and paints, at most once per PumpInterval: EXIT still acts within a
  // fraction of a second, while a transfer of many small files does not spend its time drawing.
  void ProcessPendingMessages() override;
  void WaitingForData() override { ProcessPendingMessages(); }
  void ShowProgress(std::int64_t currentBytes, std::int64_t totalBytes) override;
  MessageAnswer ShowMessage(const std::string& title, const std::string& text, MessageIcon icon,
                            MessageButtons buttons) override;
  std::string AskPassword(const std::string& prompt) override;
  bool ExitRequested() const override { return mExitRequested; }

  // The window's unload: hides it and asks to exit. The close box comes here too.
  void Unload();

  // The launcher's timer: 1 ms, stopped until the launcher starts it.
  QTimer& Timer() { return mTimer; }

  static constexpr std::chrono::milliseconds PumpInterval{30};

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void AppendLine(const std::string& text);
  void ApplyProgress(const ProgressBarLook& look);
  void ApplyPendingSelection();

  void RequestExit();

  ExitHandler mOnExit;
  bool mExitRequested = false;
  Clock mClock;
  // The controls are members with this window as parent; declared parents first, so that each
  // child is destroyed before its parent.
  QListWidget mLstCurrent;
  QFrame mPictureBox;
  QLabel mTxtCurrent;
  QPushButton mCmdExit;
  QTimer mTimer;
  // What the bar shows now: a progress event that changes neither its text nor its width in
  // pixels touches no widget.
  std::optional<ProgressBarLook> mShownLook;
  // The last line is selected (and scrolled to) at the next pump, not at every line added.
  bool mSelectionPending = false;
  std::optional<std::chrono::steady_clock::time_point> mLastPump;
  bool mBusy = false;
};

}  // namespace tandor
