// main() for the widget tests: a headless QApplication with a fixed look, so
// layouts and screenshots do not depend on the desktop the tests run under.
#include <QApplication>
#include <QFont>
#include <QStyleFactory>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  // Headless unless a test run asks for the X platform (to look at windows
  // under xvfb-run).
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (!platform || std::string_view(platform) != "xcb")
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  testsupport::TempDir runtimeDir("hivescope-runtime");
  std::filesystem::permissions(runtimeDir.path(), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace);
  ::setenv("XDG_RUNTIME_DIR", runtimeDir.path().c_str(), 1);
  // The windows read files the user keeps (the bookmarks); tests start from none.
  testsupport::TempDir dataDir("hivescope-data");
  ::setenv("XDG_DATA_HOME", dataDir.path().c_str(), 1);

  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
  return RUN_ALL_TESTS();
}
