#pragma once
// What the tests of whole update passes share: the settings of a fresh machine, a window that
// records every call, and an environment whose program end throws.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/Prefix.h"
#include "settings/ClientSettings.h"
#include "settings/IniStore.h"
#include "support/TempDir.h"
#include "sync/UpdatePass.h"
#include "sync/UpdateWindow.h"

namespace tandor::test {

// Thrown by EndProgram. Deliberately no std::exception, so that no handler of the pass can take
// it for one of its own failures.
struct ProgramEnded {
  int Status;
};

// A fresh machine's folders; the server 127.0.0.1 over FTP, root /Harrowin, user tandor.
inline ClientSettings SampleSettings() {
  ClientSettings s;
  s.WinPath = "C:\\Windows";
  s.SystemDrive = "C:";
  s.WinSysPath = "C:\\Windows\\System32";
  s.ProgramFiles = "C:\\Program Files";
  s.CommonFiles = "C:\\Program Files\\Common Files";
  s.CommonFilesSys = "C:\\Program Files\\Common Files\\System";
  s.DataAccessVersion = "?Error";
  s.Method = "FTP";
  s.Address = "127.0.0.1";
  s.User = "tandor";
  s.Password = "secret";
  s.Root = "/Harrowin";
  return s;
}

struct RecordedMessage {
  std::string Title, Text;
  MessageIcon Icon;
};

// Every call in one sequence, as short texts: "line:<text>", "unselected:<text>", "busy:<0|1>",
// "caption:<text>", "progress:<current>/<total>", "message:<title>", "show", "pump" and so on.
class RecordingWindow : public UpdateWindow {
 public:
  void AddLine(const std::string& text) override { Calls.push_back("line:" + text); }
  void AddLineUnselected(const std::string& text) override {
    Calls.push_back("unselected:" + text);
  }
  void SelectLastLine() override { Calls.push_back("select"); }
  void SetCaption(const std::string& caption) override { Calls.push_back("caption:" + caption); }
  void Centre() override { Calls.push_back("centre"); }
  void Show() override { Calls.push_back("show"); }
  void Hide() override { Calls.push_back("hide"); }
  void SetBusyPointer(bool busy) override { Calls.push_back(busy ? "busy:1" : "busy:0"); }
  void ProcessPendingMessages() override { Calls.push_back("pump"); }
  void ShowProgress(std::int64_t current, std::int64_t total) override {
    Calls.push_back("progress:" + std::to_string(current) + "/" + std::to_string(total));
    if (AfterProgress) AfterProgress(current, total);
  }
  MessageAnswer ShowMessage(const std::string& title, const std::string& text, MessageIcon icon,
                            MessageButtons) override {
    Calls.push_back("message:" + title);
    Messages.push_back({title, text, icon});
    return MessageAnswer::Ok;
  }
  std::string AskPassword(const std::string&) override { return ""; }

  // The list's lines, in the order they were added.
  std::vector<std::string> ListLines() const {
    std::vector<std::string> lines;
    for (const std::string& call : Calls)
      if (call.starts_with("line:") || call.starts_with("unselected:"))
        lines.push_back(call.substr(call.find(':') + 1));
    return lines;
  }
  // Every text shown: the list's lines and the message boxes' texts, one a line.
  std::string Shown() const {
    std::string text;
    for (const std::string& line : ListLines()) text += line + "\n";
    for (const RecordedMessage& message : Messages) text += message.Text + "\n";
    return text;
  }
  bool Has(const std::string& call) const {
    return std::find(Calls.begin(), Calls.end(), call) != Calls.end();
  }
  void Clear() {
    Calls.clear();
    Messages.clear();
  }

  std::vector<std::string> Calls;
  std::vector<RecordedMessage> Messages;
  std::function<void(std::int64_t, std::int64_t)> AfterProgress;
};

// The working copy of product Sample, version 1.0.210, in C:\Client; no launcher or program
// window is running.
inline PassEnvironment SampleEnvironment(const Prefix& machine, IniStore& ini,
                                         const ClientSettings& settings, UpdateWindow& window) {
  PassEnvironment env;
  env.Machine = &machine;
  env.Ini = &ini;
  env.Settings = &settings;
  env.AppFolder = "C:\\Client";
  env.BaseName = "TandorSample";
  env.ArgumentText = "Sample";
  env.Version = ProgramVersion{1, 0, 210};
  env.Window = &window;
  env.EndProgram = [](int status) { throw ProgramEnded{status}; };
  env.ProcessRunning = [](const std::string&) { return false; };
  env.FormWindowOpen = [](const std::string&) { return false; };
  return env;
}

// A temporary machine for product Sample: its server folder below srv/, the product installed in
// C:\Sample, the updater in C:\Client.
struct SampleMachine {
  TempDir mDir;
  Prefix mMachine = Prefix::Open(mDir / "prefix");
  IniStore mIni{mMachine.AnsiCodePage()};
  ClientSettings mSettings = SampleSettings();
  RecordingWindow mWindow;
  std::filesystem::path mServer = mDir / "srv";
  std::filesystem::path mProduct = mServer / "Harrowin" / "Sample";
  std::filesystem::path mApp = mDir / "prefix" / "drive_c" / "Client";
  std::filesystem::path mLocal = mDir / "prefix" / "drive_c" / "Sample";

  // An empty product folder, its record forgotten by the store: the product before any pass.
  void ClearProduct() {
    std::filesystem::remove_all(mLocal);
    std::filesystem::create_directories(mLocal);
    mIni.Forget(mLocal / "Version.ini");
  }
};

}  // namespace tandor::test
