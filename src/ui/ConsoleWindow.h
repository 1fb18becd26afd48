#pragma once
// The update window of an unattended pass: nobody looks at a screen, so nothing is drawn. Every
// list line goes to standard output, every message box and password question to standard error
// with its default answer. No window system is loaded for it.

#include <chrono>
#include <string>

#include "ui/UpdateWindow.h"

namespace tandor {

// What a message box answers when nobody can: OK, or Yes.
MessageAnswer DefaultAnswer(MessageButtons buttons);

// Prints "[title] text" to standard error, each line break of the text (CR LF, CR or LF) as one.
void PrintUnattendedMessage(const std::string& title, const std::string& text);

class ConsoleWindow : public UpdateWindow {
 public:
  void AddLine(const std::string& text) override;
  void AddLineUnselected(const std::string& text) override;
  void SelectLastLine() override {}
  void SetCaption(const std::string&) override {}
  void Centre() override {}
  void Show() override {}
  void Hide() override {}
  void SetBusyPointer(bool) override {}
  // Flushes the list lines written since the last flush once they have waited long enough.
  void ProcessPendingMessages() override;
  void ShowProgress(std::int64_t, std::int64_t) override {}
  MessageAnswer ShowMessage(const std::string& title, const std::string& text, MessageIcon icon,
                            MessageButtons buttons) override;
  std::string AskPassword(const std::string& prompt) override;

 private:
  std::chrono::steady_clock::time_point mLastFlush{};
};

}  // namespace tandor
