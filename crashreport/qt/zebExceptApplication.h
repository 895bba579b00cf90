#pragma once

// The application object of a program with the crash reporter: an exception
// that escapes an event handler is reported (source 5) instead of taking the
// event loop down, and the main thread keeps its event loop running while it
// waits for its own report.

#include <QApplication>

namespace crashreport {

class ReportingApplication : public QApplication {
  Q_OBJECT
public:
  ReportingApplication(int& argc, char** argv);
  ~ReportingApplication() override;

  // Catches what the receiver lets escape: a mouse grab is released, the
  // exception is reported and the event counts as not handled.
  bool notify(QObject* receiver, QEvent* event) override;
};

// Lets the main thread wait for its report in a nested event loop, which a
// quit of the application ends early. ReportingApplication installs it.
void InstallEventLoopWaiter();

}  // namespace crashreport
