#include "crashreport/qt/zebExceptApplication.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "crashreport/qt/zebQtServices.h"
#include "crashreport/zebDispatch.h"

namespace crashreport {

ReportingApplication::ReportingApplication(int& argc, char** argv) : QApplication(argc, argv) {
  zeb::InstallMainThreadDispatcher();
  InstallEventLoopWaiter();
}

ReportingApplication::~ReportingApplication() { zeb::SetMainThreadWaiter(nullptr); }

bool ReportingApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    // A grab would keep the mouse from the report's window.
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
    zeb::SubmitArguments arguments;
    arguments.exception = std::current_exception();
    arguments.canContinue = true;
    arguments.source = zeb::SourceApplication;
    arguments.relatedObject = receiver;
    zeb::SubmitException(arguments);
    return false;
  }
}

void InstallEventLoopWaiter() {
  zeb::SetMainThreadWaiter([](const std::function<bool()>& done) {
    if (done()) return;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (done()) loop.quit();
    });
    poll.start();
    // A quit of the application ends every running loop, this one too.
    loop.exec();
  });
}

}  // namespace crashreport
