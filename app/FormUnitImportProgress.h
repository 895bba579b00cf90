#pragma once

// The small window an import shows while it runs on the main thread: the key
// being imported and how far the file is read. It repaints itself from the
// reader's events and lets other windows paint, but takes no user input
// meanwhile, so no command can start in the middle of an import.

#include <QDialog>

class QLabel;
class QProgressBar;

class TformImportProgress : public QDialog {
  Q_OBJECT
public:
  explicit TformImportProgress(QWidget* parent = nullptr);

  void SetKeyText(const QString& text);
  // Position := current * 100 / total, rounded to the nearest (halves to the
  // even neighbour), 0 when total <= 0; an unchanged position paints nothing.
  void SetProgress(int current, int total);

  QProgressBar* anim = nullptr;  // a busy indicator while shown
  QLabel* labelKey = nullptr;
  QProgressBar* pg = nullptr;

protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
};
