#pragma once

// Drives a window that an Execute shows modally: `act` runs inside the modal
// loop, on the window that is up, and the window is rejected afterwards if
// `act` left it open, so a failing test ends instead of waiting for a user.

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

inline void onNextModalWindow(std::function<void(QDialog&)> act) {
  QTimer::singleShot(0, qApp, [act = std::move(act)] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      ADD_FAILURE() << "no modal window is up";
      return;
    }
    act(*dialog);
    if (dialog->isVisible()) dialog->reject();
  });
}
