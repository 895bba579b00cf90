// CPU time of a running marquee: the dialog's self-drawn TTdProgressBar
// against QProgressBar's busy indicator under Fusion, each in a window of
// its own, shown for the same number of seconds. Only the process's CPU
// time counts, so a busy machine slows neither side's figure.

#include <QApplication>
#include <QEventLoop>
#include <QProgressBar>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "taskdialog/TdProgressBar.h"

namespace {

double cpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Shows Bar for Seconds and answers the CPU time spent meanwhile.
double measure(QWidget& Bar, int Seconds) {
  Bar.resize(300, 15);
  Bar.show();
  QApplication::processEvents();
  const double start = cpuMilliseconds();
  QEventLoop loop;
  QTimer::singleShot(Seconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  const double spent = cpuMilliseconds() - start;
  Bar.hide();
  return spent;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

  TTdProgressBar ours;
  ours.setProgressStyle(psMarquee);
  ours.setActive(true);
  const double oursMs = measure(ours, seconds);

  QProgressBar theirs;
  theirs.setRange(0, 0);
  const double theirsMs = measure(theirs, seconds);

  std::printf("td-marquee: %d s of marquee, process CPU time\n", seconds);
  std::printf("  TTdProgressBar   %8.1f ms\n", oursMs);
  std::printf("  QProgressBar     %8.1f ms\n", theirsMs);
  std::printf("  ours uses %s\n", oursMs <= theirsMs ? "no more" : "more");
  return 0;
}
