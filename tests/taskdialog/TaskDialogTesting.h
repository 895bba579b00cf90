#pragma once

// Helpers the task-dialog tests share: fixed text metrics, a link opener
// that records instead of opening, and an active window holding one control
// beside a line edit that has the focus first.

#include <QApplication>
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include "taskdialog/TdGraphics.h"

// 6 pixels per character, 15-pixel lines, whatever the font.
class FixedMetrics final : public TTdTextMetrics {
 public:
  int textWidth(const QFont&, QStringView Text) const override { return int(Text.size()) * 6; }
  int textHeight(const QFont&, QStringView) const override { return 15; }
};
inline const FixedMetrics kFixed;

class RecordingOpener final : public TTdLinkOpener {
 public:
  RecordingOpener() : FPrevious(SetTdLinkOpener(this)) {}
  ~RecordingOpener() override { SetTdLinkOpener(FPrevious); }
  void openUrl(const QString& Url) override { Opened << Url; }
  QStringList Opened;

 private:
  TTdLinkOpener* FPrevious;
};

template <class Control>
struct ControlWindow {
  ControlWindow() : layout(new QVBoxLayout(&window)), other(new QLineEdit), control(new Control) {
    layout->addWidget(other);
    layout->addWidget(control);
  }
  // Shows the window active, the line edit focused.
  void show() {
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    other->setFocus();
  }
  // Alt with a key and its character, typed where the focus is.
  static void alt(Qt::Key Key, const QString& Text) {
    QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Key, Text, Qt::AltModifier);
  }
  QWidget window;
  QVBoxLayout* layout;
  QLineEdit* other;
  Control* control;
};
