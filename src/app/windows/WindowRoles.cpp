#include "app/WindowRoles.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "manifest/ManifestReader.h"
#include "manifest/SigningStamp.h"
#include "platform/Unattended.h"
#include "publisherwin/frmVersion.h"
#include "ui/Messages.h"
#include "updatewin/MessageBox.h"
#include "updatewin/frmTandor.h"
#include "util/FileVersion.h"

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

int RunLauncher(const Startup& startup) {
  if (WorkingCopyRuns(startup)) return AlreadyRunning(startup);
  auto app = MakeApplication(startup);
  frmTandor window([] { EndProgramNow(0); });
  QObject::connect(&window.Timer(), &QTimer::timeout, [&] {
    window.Timer().stop();
    RefreshAndStartWorkingCopy(startup, window);
  });
  window.Timer().setInterval(1);
  window.Timer().start();
  return app->exec();
}

int RunWorkingCopy(const Startup& startup) {
  auto app = MakeApplication(startup);
  // EXIT and the close box while the pass runs: the pass stops at its next look and comes back.
  // Once it has come back to wait for EXIT, they end the program with its status.
  std::optional<int> waiting;
  frmTandor window([&waiting] {
    if (waiting) EndProgramNow(*waiting);
  });
  const PassOutcome outcome = RunPass(startup, window);
  if (!outcome.WaitForExit || window.ExitRequested()) EndProgramNow(outcome.Status);
  waiting = outcome.Status;
  return app->exec();
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
  if (const char* days = std::getenv("TANDOR_EXPIRES_DAYS")) {
    setup.ExpiresDays = ParseExpiryDays(days);
    if (!setup.ExpiresDays)
      std::fprintf(stderr, "TANDOR_EXPIRES_DAYS=%s: no number of days from 0 to %d; ignored\n",
                   days, kMostExpiryDays);
  }
  setup.Closed = [] { EndProgramNow(0); };
  frmVersion window(std::move(setup));
  window.show();
  return app->exec();
}

int ShowMessage(const Startup& startup, const std::string& title, const std::string& text,
                MessageIcon icon, int status) {
  auto app = MakeApplication(startup);
  ShowMessageBox(title, text, icon, MessageButtons::Ok);
  return status;
}

const WindowRoles kRoles{RunLauncher, RunWorkingCopy, RunPublisher, ShowMessage};

}  // namespace

}  // namespace tandor

extern "C" const tandor::WindowRoles* TandorWindowRoles() {
  return &tandor::kRoles;
}
