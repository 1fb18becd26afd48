#pragma once
// What the tests of whole update passes share: the settings of a fresh machine, a window that
// records every call, and an environment for it.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Prefix.h"
#include "settings/ClientSettings.h"
#include "settings/IniStore.h"
#include "support/TempDir.h"
#include "sync/UpdatePass.h"
#include "ui/UpdateWindow.h"
#include "util/Integrity.h"

namespace tandor::test {

using Keys = std::map<std::string, std::string>;

// Where the sample product's manifest is on the server.
inline const std::string kRemote = "/Harrowin/Sample/Tandor10.ini";

// One manifest entry: a plain file in the product's server folder, installed into C:\Sample
// whatever is there; `keys` adds or overrides keys.
inline std::string Entry(int number, const std::string& key, const std::string& filename,
                         Keys keys = {}) {
  keys.insert({{"Key", key}, {"Filename", filename}, {"Realname", filename}});
  keys.insert({{"Server Path", "$Root/Sample"}, {"Local Path", "C:\\Sample"}});
  keys.insert({{"Product Version", "1.0"}, {"CopyMode", "Force"}});
  std::string text = "[File" + std::to_string(number) + "]\r\n";
  for (const auto& [name, value] : keys) text += name + "=" + value + "\r\n";
  return text;
}

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
  s.SetMethod("FTP");
  s.Address = "127.0.0.1";
  s.User = "tandor";
  s.Password = "secret";
  s.Root = "/Harrowin";
  return s;
}

// Every call in one sequence, as short texts: "line:<text>", "busy:1", "progress:<cur>/<total>"...
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
  MessageAnswer ShowMessage(const std::string& title, const std::string& text, MessageIcon,
                            MessageButtons) override {
    Calls.push_back("message:" + title);
    Messages.push_back(text);
    return MessageAnswer::Ok;
  }
  std::string AskPassword(const std::string&) override { return ""; }
  bool ExitRequested() const override { return ExitPressed; }

  // Every text shown: the list's lines and the message boxes' texts, one a line.
  std::string Shown() const {
    std::string text;
    for (const std::string& call : Calls)
      if (call.starts_with("line:") || call.starts_with("unselected:"))
        text += call.substr(call.find(':') + 1) + "\n";
    for (const std::string& message : Messages) text += message + "\n";
    return text;
  }
  void Clear() { Calls.clear(), Messages.clear(), ExitPressed = false; }

  std::vector<std::string> Calls;
  std::vector<std::string> Messages;  // the message boxes' texts
  std::function<void(std::int64_t, std::int64_t)> AfterProgress;
  bool ExitPressed = false;  // EXIT, as the window's button sets it
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
  env.LauncherRunning = [](const std::filesystem::path&) { return false; };
  env.FormWindowOpen = [](const std::string&) { return false; };
  return env;
}

// A temporary machine: server folder srv/, product in C:\Sample, updater in C:\Client.
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

  void Publish(const std::string& name, const std::string& bytes) const {
    WriteFile(mProduct / name, bytes);
  }
  std::string Log() const { return ReadFile(mApp / "Err.log"); }

  // An empty product folder, its record forgotten by the store: the product before any pass.
  void ClearProduct() {
    std::filesystem::remove_all(mLocal);
    std::filesystem::create_directories(mLocal);
    mIni.Forget(mLocal / "Version.ini");
  }
};

}  // namespace tandor::test
