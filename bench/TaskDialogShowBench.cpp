// How long a Yes/No box takes from the call to its first finished paint:
// the drawn task dialog (TdMessageDlg) against a QMessageBox with the same
// text, icon and buttons. The rounds alternate between the two; the first
// round of each is a warm-up (fonts, icons) and is not counted. Each box is
// closed as soon as its window has been painted and flushed.

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFont>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleFactory>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "taskdialog/TdMessageDlg.h"

namespace {

// Sees every event: the first paint of a dialog's own widget, and the end of
// the window event (expose or update request) that painted and flushed it.
class WatchingApplication : public QApplication {
 public:
  using QApplication::QApplication;

  void start() {
    FTimer.start();
    FPainted = false;
    FElapsed = -1;
  }
  qint64 elapsedNs() const { return FElapsed; }

  bool notify(QObject* Receiver, QEvent* Event) override {
    const QEvent::Type type = Event->type();
    const bool result = QApplication::notify(Receiver, Event);
    if (FElapsed >= 0)
      return result;
    if (type == QEvent::Paint) {
      auto* dialog = qobject_cast<QDialog*>(Receiver);
      if (dialog && dialog->isWindow())
        FPainted = true;
    } else if (FPainted && (type == QEvent::Expose || type == QEvent::UpdateRequest) && Receiver->isWindowType()) {
      FElapsed = FTimer.nsecsElapsed();
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
        QTimer::singleShot(0, dialog, [dialog] { dialog->reject(); });
    }
    return result;
  }

 private:
  QElapsedTimer FTimer;
  bool FPainted = false;
  qint64 FElapsed = -1;
};

const QString kText = QStringLiteral("Do you really want to delete the selected value?");

int showMessageBox() {
  QMessageBox box;
  box.setIcon(QMessageBox::Question);
  box.setWindowTitle(QStringLiteral("Confirmation"));
  box.setText(kText);
  box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
  box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
  return box.exec();
}

double medianMs(std::vector<qint64> Ns) {
  std::sort(Ns.begin(), Ns.end());
  const size_t n = Ns.size();
  const double median = n % 2 ? double(Ns[n / 2]) : (double(Ns[n / 2 - 1]) + double(Ns[n / 2])) / 2;
  return median / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM"))
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
  WatchingApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));

  std::vector<qint64> ours, theirs;
  for (int round = 0; round <= rounds; ++round) {
    app.start();
    TdMessageDlg(kText, jmConfirmation, buttonBit(cbYes) | buttonBit(cbNo), 0);
    if (round > 0 && app.elapsedNs() >= 0)
      ours.push_back(app.elapsedNs());
    app.start();
    showMessageBox();
    if (round > 0 && app.elapsedNs() >= 0)
      theirs.push_back(app.elapsedNs());
  }
  if (ours.empty() || theirs.empty()) {
    std::fprintf(stderr, "no paint was seen\n");
    return 1;
  }
  std::printf("platform %s, %d rounds\n", qPrintable(QGuiApplication::platformName()), rounds);
  std::printf("drawn task dialog: median %.3f ms to the first finished paint (%zu samples)\n", medianMs(ours),
              ours.size());
  std::printf("QMessageBox:       median %.3f ms to the first finished paint (%zu samples)\n", medianMs(theirs),
              theirs.size());
  return 0;
}
