#include "ui/ConsoleWindow.h"

#include <chrono>
#include <cstdio>

#include "ui/Messages.h"

namespace tandor {

namespace {

using msg::kApplicationTitle;

// List lines reach standard output in batches, a flush at most this long after the line: a
// pass of thousands of small files would otherwise spend a system call on every line. Anything
// on standard error, a program started and the end of the program flush them first.
constexpr auto kLineFlushInterval = std::chrono::milliseconds(50);

}  // namespace

MessageAnswer DefaultAnswer(MessageButtons buttons) {
  return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
}

void PrintUnattendedMessage(const std::string& title, const std::string& text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r')
      shown += text[i];
    else if (i + 1 == text.size() || text[i + 1] != '\n')
      shown += '\n';
  }
  std::fflush(stdout);
  std::fprintf(stderr, "[%s] %s\n", title.c_str(), shown.c_str());
  std::fflush(stderr);
}

void ConsoleWindow::AddLine(const std::string& text) {
  AddLineUnselected(text);
}

void ConsoleWindow::AddLineUnselected(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  ProcessPendingMessages();
}

void ConsoleWindow::ProcessPendingMessages() {
  const auto now = std::chrono::steady_clock::now();
  if (now - mLastFlush >= kLineFlushInterval) {
    std::fflush(stdout);
    mLastFlush = now;
  }
}

MessageAnswer ConsoleWindow::ShowMessage(const std::string& title, const std::string& text,
                                         MessageIcon, MessageButtons buttons) {
  PrintUnattendedMessage(title.empty() ? kApplicationTitle : title, text);
  return DefaultAnswer(buttons);
}

std::string ConsoleWindow::AskPassword(const std::string& prompt) {
  PrintUnattendedMessage(kApplicationTitle, prompt);
  return {};
}

}  // namespace tandor
