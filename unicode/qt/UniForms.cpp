#include "unicode/qt/UniForms.h"

#include <QGuiApplication>

#include "unicode/qt/UniControls.h"

namespace uni {

QString TUniApplication::title() const { return QGuiApplication::applicationDisplayName(); }

void TUniApplication::setTitle(const QString& Title) {
  if (Title != title())
    QGuiApplication::setApplicationDisplayName(Title);
}

void TUniApplication::setHint(const QString& Hint) {
  if (Hint == FHint)
    return;
  FHint = Hint;
  emit hintChanged(FHint);
}

TUniApplication& WideApplication() {
  static TUniApplication application;
  return application;
}

TUniForm::TUniForm(QWidget* Parent) : TWideCaptioned<QDialog>(Parent) { EnsureUniEventFilter(); }

}  // namespace uni
