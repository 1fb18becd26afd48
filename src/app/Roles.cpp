#include "app/Roles.h"

#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "app/Options.h"
#include "hostid/AllowRule.h"
#include "hostid/NetX.h"
#include "manifest/ManifestReader.h"
#include "platform/Error.h"
#include "platform/Executable.h"
#include "platform/FileIo.h"
#include "platform/Process.h"
#include "platform/Unattended.h"
#include "publisher/frmVersion.h"
#include "sync/ConsoleWindow.h"
#include "sync/Messages.h"
#include "sync/UpdatePass.h"
#include "updatewin/MessageBox.h"
#include "updatewin/frmTandor.h"
#include "util/ProcessCheck.h"
#include "util/WindowCheck.h"

namespace tandor {

namespace {

// Qt's own texts (standard dialogs) in Korean, and the program's icon on every window.
class Application : public QApplication {
 public:
  Application(int& argc, char** argv) : QApplication(argc, argv) {
    if (mQtTexts.load(QLocale(QLocale::Korean), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
      installTranslator(&mQtTexts);
    setWindowIcon(QIcon(QStringLiteral(":/tandor/tandor.svg")));
  }

 private:
  QTranslator mQtTexts;
};

std::unique_ptr<QApplication> MakeApplication(const Startup& startup) {
  // Decided before Qt starts: without a window system it would abort.
  if (IsUnattended()) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  static int argc = 1;
  static char* argv[] = {startup.Argv[0], nullptr};
  return std::make_unique<Application>(argc, argv);
}

std::string WorkingCopyName(const Startup& startup) {
  return startup.BaseName + startup.ArgumentText;
}

void ShowRuntimeError(const Startup& startup, const RuntimeError& error) {
  ShowMessageBox(UpdaterCaption(startup.Version),
                 msg::RuntimeError(error.Number(), error.Description()), MessageIcon::Critical,
                 MessageButtons::Ok);
}

int WaitForExit(ProcessId pid) {
  for (;;) {
    if (std::optional<int> status = PollExitCode(pid)) return *status;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// The product's update runs already: fine for a product that starts the launcher and goes on,
// but a caller waiting for the result must not take it for a completed update.
int AlreadyRunning(const Startup& startup) {
  if (!startup.Wait) return 0;
  std::fprintf(stderr, "Tandor: the update of %s is already running\n",
               startup.ArgumentText.c_str());
  return exit_status::AlreadyRunning;
}

// The launcher's timer: refresh the working copy from this file, start it, end.
void RefreshAndStartWorkingCopy(const Startup& startup) {
  try {
    const std::string self =
        startup.AppFolder + "\\" + startup.BaseName + std::string(kExecutableSuffix);
    const std::string copy =
        startup.AppFolder + "\\" + WorkingCopyName(startup) + std::string(kExecutableSuffix);
    CopyFileInPlace(startup.Machine->ToNative(self), startup.Machine->ToNative(copy));
    if (startup.Wait) {
      std::string waiting;
      for (ProcessId pid : WaitingLaunchers()) waiting += std::to_string(pid) + " ";
      setenv(kWaitingLauncherVariable, (waiting + std::to_string(getpid())).c_str(), 1);
    }
    const ProcessId pid =
        StartProgram(*startup.Machine, copy + " " + startup.ArgumentText, WindowStyle::NormalFocus);
    if (startup.Wait) EndProgramNow(WaitForExit(pid));
  } catch (const RuntimeError& error) {
    // Only a working copy that runs ("text file busy") is in use: it is still updating. Every
    // other failure, a read-only folder included, is reported.
    if (error.SystemError() == ETXTBSY) EndProgramNow(AlreadyRunning(startup));
    ShowRuntimeError(startup, error);
    EndProgramNow(1);
  }
  EndProgramNow(0);
}

}  // namespace

std::vector<ProcessId> WaitingLaunchers() {
  std::vector<ProcessId> ids;
  const char* text = std::getenv(kWaitingLauncherVariable);
  std::istringstream words(text ? text : "");
  for (ProcessId pid = 0; words >> pid;) ids.push_back(pid);
  if (ids.empty() || ids.back() != getppid()) return {};
  return ids;
}

void EndProgramNow(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

std::string UpdaterCaption(const ProgramVersion& version) {
  return "Tandor " + std::to_string(version.Major) + "." + std::to_string(version.Minor) + "." +
         std::to_string(version.Revision);
}

int RunLauncher(const Startup& startup) {
  if (IsProcessRunning(WorkingCopyName(startup) + std::string(kExecutableSuffix)))
    return AlreadyRunning(startup);
  auto app = MakeApplication(startup);
  frmTandor window([] { EndProgramNow(0); });
  QObject::connect(&window.Timer(), &QTimer::timeout, [&] {
    window.Timer().stop();
    RefreshAndStartWorkingCopy(startup);
  });
  window.Timer().setInterval(1);
  window.Timer().start();
  return app->exec();
}

int RunWorkingCopy(const Startup& startup) {
  std::unique_ptr<UpdatePass> pass;
  // Nobody watches an unattended pass: it loads no window system and draws nothing, and its
  // lines and boxes go to the terminal.
  const bool unattended = IsUnattended();
  std::unique_ptr<QApplication> app;
  std::unique_ptr<frmTandor> window;
  ConsoleWindow console;
  if (!unattended) {
    app = MakeApplication(startup);
    // EXIT and the close box: whatever the pass had reached, it did not complete.
    window = std::make_unique<frmTandor>([&pass] {
      const int status = pass ? pass->Status() : pass_status::EntryFailed;
      const int ending = status == pass_status::Completed ? pass_status::EntryFailed : status;
      if (pass) pass->EndNow(ending);
      EndProgramNow(ending);
    });
  }

  PassEnvironment env;
  env.Machine = startup.Machine;
  env.Ini = startup.Ini;
  env.Settings = startup.Settings;
  env.AppFolder = startup.AppFolder;
  env.BaseName = startup.BaseName;
  env.ArgumentText = startup.ArgumentText;
  env.Version = startup.Version;
  env.Window = unattended ? static_cast<UpdateWindow*>(&console) : window.get();
  env.EndProgram = [](int status) { EndProgramNow(status); };
  env.ReplaceProgram = [&startup](const std::string& commandLine) {
    std::fflush(stdout);
    ReplaceProcess(*startup.Machine, commandLine);
  };
  env.ProcessRunning = [waiting = WaitingLaunchers()](const std::string& name) {
    return IsProcessRunning(name, waiting);
  };
  env.FormWindowOpen = [](const std::string& caption) { return IsFormWindowOpen(caption); };
  env.Allow = [](const std::string& allow, const std::string& block) {
    return Allow(allow, block);
  };
  pass = std::make_unique<UpdatePass>(std::move(env));
  try {
    pass->Sync();
  } catch (const RuntimeError& error) {
    // A failure no step handles (a product folder that cannot be created, a manifest that
    // cannot be stored): say what it was rather than vanish.
    ShowRuntimeError(startup, error);
    pass->EndNow(pass_status::EntryFailed);
  }
  // The connection failed: the window waits for EXIT, unless nobody is there to press it.
  if (unattended) pass->EndNow(pass->Status());
  return app->exec();
}

int ShowAddresses(const Startup& startup) {
  auto app = MakeApplication(startup);
  ShowMessageBox("NET Address",
                 "IP Address:\r\n" + GetIpAddressList('\r') + "\r\n\r\nMAC Address:\r\n" +
                     GetMacAddressList('\r'),
                 MessageIcon::Information, MessageButtons::Ok);
  return 0;
}

int RunPublisher(const Startup& startup) {
  auto app = MakeApplication(startup);
  VersionInfoQuery versions(*startup.Machine, startup.Machine->AnsiCodePage());
  frmVersion::Setup setup;
  setup.EditCopy =
      startup.Machine->ToNative(startup.AppFolder + "\\" + ManifestFileName(startup.Version));
  setup.AnsiCodePage = startup.Machine->AnsiCodePage();
  setup.Version = startup.Version;
  setup.Caption = UpdaterCaption(startup.Version);
  setup.Versions = &versions;
  setup.Addresses = TANDOR_DEFAULT_ADDRESS;
  if (const char* key = std::getenv("TANDOR_SIGNING_KEY")) setup.SigningKey = key;
  setup.EndProgram = [] { EndProgramNow(0); };
  frmVersion window(std::move(setup));
  window.show();
  return app->exec();
}

int ShowDamagedFile(const Startup& startup) {
  auto app = MakeApplication(startup);
  ShowMessageBox(msg::kApplicationTitle, msg::kDamagedFile, MessageIcon::Critical,
                 MessageButtons::Ok);
  return 1;
}

int ShowStartupError(const Startup& startup, const std::string& text, int status) {
  auto app = MakeApplication(startup);
  ShowMessageBox(msg::kApplicationTitle, text, MessageIcon::Critical, MessageButtons::Ok);
  return status;
}

}  // namespace tandor
