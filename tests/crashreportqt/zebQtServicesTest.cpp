// The clipboard and the main-thread dispatcher as the windows install them.

#include <QApplication>
#include <QClipboard>

#include <gtest/gtest.h>

#include <thread>

#include "crashreport/qt/zebQtServices.h"
#include "crashreport/zebExcept.h"
#include "crashreport/zebTools.h"
#include "tests/support/Waiting.h"

using namespace zeb;

namespace {

bool processUntil(const std::function<bool()>& done) {
  return testsupport::waitUntil([&] {
    QCoreApplication::processEvents();
    return done();
  });
}

}  // namespace

TEST(zebQtServices, ClipboardTakesTextFromAnyThread) {
  InstallClipboard();
  CopyToClipboard("first line\r\nzweite Zeile \xc3\xbc");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("first line\r\nzweite Zeile \xc3\xbc"));
  std::thread([] { CopyToClipboard("from a worker"); }).join();
  EXPECT_TRUE(processUntil([] { return QGuiApplication::clipboard()->text() == "from a worker"; }));
  SetClipboardSink(nullptr);
}

TEST(zebQtServices, QueuedCallsRunOnTheGuiThread) {
  InstallMainThreadDispatcher();
  std::thread::id ranOn;
  std::thread([&] { MainThreadDispatcher::Instance().Post([&] { ranOn = std::this_thread::get_id(); }); }).join();
  EXPECT_TRUE(processUntil([&] { return ranOn == std::this_thread::get_id(); }));
  MainThreadDispatcher::Instance().SetWakeUp(nullptr);
}
