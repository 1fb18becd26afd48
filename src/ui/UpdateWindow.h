#pragma once
// What the update pass needs from its window. The program's window (frmTandor) implements it
// with Qt; tests put a recorder in its place. The pass never opens a window of its own.

#include <cstdint>
#include <string>

namespace tandor {

enum class MessageIcon { None, Information, Exclamation, Critical, Question };
enum class MessageButtons { Ok, OkCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Yes, No };

class UpdateWindow {
 public:
  virtual ~UpdateWindow() = default;

  // Appends a line to the list and selects it, so that the list scrolls to it.
  virtual void AddLine(const std::string& text) = 0;
  // Appends a line without changing the selection.
  virtual void AddLineUnselected(const std::string& text) = 0;
  // Selects the list's last line again.
  virtual void SelectLastLine() = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // Moves the window to the middle of the screen.
  virtual void Centre() = 0;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // The hourglass while the pass works, the normal pointer otherwise.
  virtual void SetBusyPointer(bool busy) = 0;
  // Lets the window deliver queued input and paint; EXIT and the close box act here.
  virtual void ProcessPendingMessages() = 0;
  // Called again and again while a transfer waits for the server and no data arrives, so that
  // the window can stay responsive; nothing by default.
  virtual void WaitingForData() {}
  // EXIT or the close box was pressed: the pass stops at its next look, with what it reached.
  virtual bool ExitRequested() const { return false; }
  // One transfer progress event: repaints the bar, then processes pending messages.
  virtual void ShowProgress(std::int64_t currentBytes, std::int64_t totalBytes) = 0;
  // A message box; an empty title means the application's title.
  virtual MessageAnswer ShowMessage(const std::string& title, const std::string& text,
                                    MessageIcon icon, MessageButtons buttons) = 0;
  // The input box for an archive's password; empty when cancelled.
  virtual std::string AskPassword(const std::string& prompt) = 0;
};

}  // namespace tandor
