#pragma once

// A dialog with a wide caption and hint, and the application's wide title
// and hint.

#include <QDialog>
#include <QObject>
#include <QString>

#include "unicode/qt/UniControls.h"

namespace uni {

// The application's title is Qt's display name; its hint is the last status
// tip shown anywhere in the program (a control under the mouse, a hovered
// menu item), or what was set last.
class TUniApplication : public QObject {
  Q_OBJECT
 public:
  QString title() const;
  void setTitle(const QString& Title);
  QString hint() const { return FHint; }
  void setHint(const QString& Hint);

 signals:
  void hintChanged(const QString& Hint);

 private:
  QString FHint;
};

TUniApplication& WideApplication();

// The caption is the window title.
class TUniForm : public TWideCaptioned<QDialog> {
  Q_OBJECT
 public:
  explicit TUniForm(QWidget* Parent = nullptr);
};

}  // namespace uni
