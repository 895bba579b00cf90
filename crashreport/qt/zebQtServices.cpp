#include "crashreport/qt/zebQtServices.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QThread>

#include "crashreport/zebExcept.h"
#include "crashreport/zebTools.h"

namespace zeb {

void InstallClipboard() {
  SetClipboardSink([](const std::string& text) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    const QString qtext = QString::fromUtf8(text.data(), qsizetype(text.size()));
    auto put = [qtext] {
      if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setText(qtext);
    };
    // Queued rather than blocking: the GUI thread may itself be waiting for
    // the thread that asks.
    if (QThread::currentThread() == app->thread())
      put();
    else
      QMetaObject::invokeMethod(app, put, Qt::QueuedConnection);
  });
}

void InstallMainThreadDispatcher() {
  MainThreadDispatcher& dispatcher = MainThreadDispatcher::Instance();
  dispatcher.SetMainThread();
  dispatcher.SetWakeUp([] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, [] { MainThreadDispatcher::Instance().RunPendingCalls(); }, Qt::QueuedConnection);
  });
}

}  // namespace zeb
