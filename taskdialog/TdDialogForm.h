#pragma once

// The window of a drawn task dialog: a fixed client size with its controls
// at absolute places, painted by its dialog. It sees every key first (its
// controls' too): Ctrl+C copies the dialog's text, Enter presses the default
// or the focused button, Esc the cancel button and nothing when there is
// none. Without AllowCancel it has no close box and refuses to close unless
// a button closes it.

#include <QDialog>
#include <QPointer>

class TTdCustomDialog;

class TTdTaskDialogForm : public QDialog {
  Q_OBJECT
 public:
  TTdTaskDialogForm(TTdCustomDialog* Dialog, QWidget* Owner);
  ~TTdTaskDialogForm() override;

  TTdCustomDialog* dialog() const { return FDialog; }
  // The text Ctrl+C copies.
  QString GetDialogText() const;
  // Fixes the client area at Size; the window keeps its top-left corner.
  void setClientSize(QSize Size);
  void setWindowButtons(bool Close, bool Minimize, bool StayOnTop);
  // How many paints have finished, for those who wait for the first.
  int paintCount() const { return FPaintCount; }

  void reject() override;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;
  void showEvent(QShowEvent* Event) override;
  void childEvent(QChildEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  // True when the key was the dialog's.
  bool handleKey(QKeyEvent* Event);

  TTdCustomDialog* FDialog;
  int FPaintCount = 0;
};
