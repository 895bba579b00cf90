#pragma once

// Saves a picture of a widget as NAME.png into the folder that
// HIVESCOPE_SCREENSHOT_DIR names, so a person can look at what a test built;
// does nothing when the variable is not set.

#include <QApplication>
#include <QDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>

inline void saveScreenshot(QWidget& widget, const char* name) {
  const char* dir = std::getenv("HIVESCOPE_SCREENSHOT_DIR");
  if (!dir) return;
  QApplication::processEvents();
  const QString file = QDir(QString::fromLocal8Bit(dir)).filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
  EXPECT_TRUE(widget.grab().save(file)) << file.toStdString();
}
