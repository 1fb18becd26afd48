// Feeds the update window's progress handler the events of large downloads (one per 10 KB
// chunk) offscreen and prints the cost per event and how often the bar was painted: once with
// the window's own pace (goal: about 30 paints a second, 100 % always shown) and once with a
// clock that makes every event due, i.e. a bar repainted at every event.

#include <stdlib.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "transfer/TransferEvents.h"
#include "updatewin/frmTandor.h"

namespace {

using Clock = std::chrono::steady_clock;

// Counts the paints of one widget.
class PaintCounter : public QObject {
 public:
  int Paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++Paints;
    return QObject::eventFilter(watched, event);
  }
};

struct Figures {
  std::int64_t Events = 0;
  double Seconds = 0;
  int Paints = 0;
  QString LastText;
};

// One download of `totalBytes`, events spaced `gap` apart (busy-waited, as a transfer loop
// would be busy receiving).
Figures Feed(tandor::frmTandor& window, std::int64_t totalBytes, Clock::duration gap) {
  auto* bar = window.findChild<QLabel*>(QStringLiteral("txtCurrent"));
  PaintCounter counter;
  bar->installEventFilter(&counter);
  Figures figures;
  const auto start = Clock::now();
  auto next = start;
  for (std::int64_t done = 0; done < totalBytes;) {
    done = std::min(done + tandor::TransferChunkSize, totalBytes);
    while (Clock::now() < next) {
    }
    next += gap;
    window.ShowProgress(done, totalBytes);
    ++figures.Events;
  }
  figures.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
  QCoreApplication::processEvents();
  figures.Paints = counter.Paints;
  figures.LastText = bar->text();
  bar->removeEventFilter(&counter);
  return figures;
}

void Print(const char* label, const Figures& f) {
  std::printf("%-34s %7lld events %8.3f s %7.2f us/event %6d paints %7.1f paints/s  last %s\n",
              label, static_cast<long long>(f.Events), f.Seconds, f.Seconds * 1e6 / f.Events,
              f.Paints, f.Paints / f.Seconds, f.LastText.toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);

  constexpr std::int64_t kBig = 200LL * 1024 * 1024;   // 200 MB: 20,480 events
  constexpr std::int64_t kTimed = 20LL * 1024 * 1024;  // 2,048 events over about 2 s

  tandor::frmTandor paced([] {});
  paced.Show();
  Print("paced, events back to back", Feed(paced, kBig, Clock::duration::zero()));
  Print("paced, 1 event per ms", Feed(paced, kTimed, std::chrono::milliseconds(1)));

  // A clock that jumps a second at every call: each event is due, as if there were no pace.
  Clock::time_point fake{};
  tandor::frmTandor everyEvent([] {}, [&fake] { return fake += std::chrono::seconds(1); });
  everyEvent.Show();
  Print("repaint every event, back to back", Feed(everyEvent, kBig, Clock::duration::zero()));
  Print("repaint every event, 1 event per ms",
        Feed(everyEvent, kTimed, std::chrono::milliseconds(1)));
  return 0;
}
