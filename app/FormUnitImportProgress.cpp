#include "app/FormUnitImportProgress.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>

#include <cmath>

namespace {

// Lets the windows paint, and drops no input: the user's clicks and keys wait
// until the import is over.
void paintPending() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

}  // namespace

TformImportProgress::TformImportProgress(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("formImportProgress"));
  setWindowTitle(QStringLiteral("Importing registry file..."));
  setFixedSize(289, 129);
  anim = new QProgressBar(this);
  anim->setObjectName(QStringLiteral("anim"));
  anim->setGeometry(8, 8, 272, 60);
  anim->setTextVisible(false);
  anim->setRange(0, 1);
  labelKey = new QLabel(this);
  labelKey->setObjectName(QStringLiteral("labelKey"));
  labelKey->setGeometry(8, 72, 265, 25);
  labelKey->setWordWrap(true);
  pg = new QProgressBar(this);
  pg->setObjectName(QStringLiteral("pg"));
  pg->setGeometry(8, 104, 273, 17);
  pg->setRange(0, 100);
}

void TformImportProgress::SetKeyText(const QString& text) {
  labelKey->setText(text);
  labelKey->repaint();
  paintPending();
}

void TformImportProgress::SetProgress(int current, int total) {
  const int position =
      total <= 0 ? 0 : static_cast<int>(std::nearbyint(static_cast<double>(current) * 100.0 / total));
  if (position == pg->value()) return;
  pg->setValue(position);
  pg->repaint();
  paintPending();
}

void TformImportProgress::showEvent(QShowEvent* event) {
  pg->reset();
  anim->setRange(0, 0);  // runs while the window is shown
  QDialog::showEvent(event);
}

void TformImportProgress::hideEvent(QHideEvent* event) {
  anim->setRange(0, 1);
  QDialog::hideEvent(event);
}
