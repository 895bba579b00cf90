// The report's display mode and save dialog as the windows install them.

#include <QApplication>
#include <QFileDialog>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "crashreport/qt/zebReportQt.h"
#include "crashreport/zebBugRepFile.h"
#include "crashreport/zebExceptObject.h"
#include "crashreport/zebSysInfo.h"
#include "tests/support/TempDir.h"

using namespace zeb;

TEST(zebReportQt, DisplayModeOfThePrimaryScreenFromAnyThread) {
  InstallDisplayModeSource();
  std::string fromWorker;
  std::thread([&] { fromWorker = DisplayModeText(); }).join();
  EXPECT_TRUE(std::regex_match(fromWorker, std::regex(R"(\d+x\d+, \d+ bit)"))) << fromWorker;
  const QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(fromWorker.substr(fromWorker.find(", ")), ", " + std::to_string(screen->depth()) + " bit");
  SetDisplayModeSource(nullptr);
}

TEST(zebReportQt, SaveDialogStartsInTheFolderAndAddsTheExtension) {
  // Qt's own dialog, which a test can drive.
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  const SaveDialogFunction dialog = [](const std::string& folder, const std::string& file, const std::string& title) {
    return AskBugReportSavePath(folder, file, title);
  };
  testsupport::TempDir dir;
  auto exception = NewExceptionObject({});
  exception->SetBugRepFile((dir / "reports.txt").string());
  QString shownDirectory, shownTitle;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    shownDirectory = dialog->directory().absolutePath();
    shownTitle = dialog->windowTitle();
    dialog->selectFile(dialog->directory().absoluteFilePath("chosen"));
    QMetaObject::invokeMethod(dialog, "accept");
  });
  EXPECT_TRUE(WriteBugReportFile("", "date/time : now", false, *exception, dialog));
  EXPECT_EQ(shownDirectory.toStdString(), dir.path().string());
  EXPECT_EQ(shownTitle, "save bug report");
  EXPECT_TRUE(std::filesystem::exists(dir / "chosen.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "reports.txt"));
  // Cancelled: nothing written.
  QTimer::singleShot(0, [] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) dialog->reject();
  });
  EXPECT_FALSE(WriteBugReportFile("", "date/time : again", false, *exception, dialog));
}
