#include "taskdialog/TdDialogForm.h"

#include <QApplication>
#include <QChildEvent>
#include <QClipboard>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>

#include <algorithm>

#include "taskdialog/TdButton.h"
#include "taskdialog/TdDialog.h"
#include "unicode/qt/UniStdCtrls.h"

TTdTaskDialogForm::TTdTaskDialogForm(TTdCustomDialog* Dialog, QWidget* Owner)
    : QDialog(Owner), FDialog(Dialog) {
  setObjectName(QStringLiteral("TdTaskDialogForm"));
  // The paint covers the whole client area.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizeGripEnabled(false);
  // A link draws its frame by which control is active.
  connect(qApp, &QApplication::focusChanged, this, [this] {
    for (QPushButton* control : FDialog->customButtonControls())
      control->update();
  });
}

TTdTaskDialogForm::~TTdTaskDialogForm() { FDialog->formDestroying(); }

QString TTdTaskDialogForm::GetDialogText() const { return ::GetDialogText(*FDialog); }

void TTdTaskDialogForm::setClientSize(QSize Size) { setFixedSize(Size); }

void TTdTaskDialogForm::setWindowButtons(bool Close, bool Minimize, bool StayOnTop) {
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (Close)
    flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (Minimize)
    flags |= Qt::WindowMinimizeButtonHint;
  if (StayOnTop)
    flags |= Qt::WindowStaysOnTopHint;
  setWindowFlags(flags);
}

void TTdTaskDialogForm::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  FDialog->Paint(painter);
  ++FPaintCount;
}

void TTdTaskDialogForm::showEvent(QShowEvent* Event) {
  QDialog::showEvent(Event);
  QWidget* active = FDialog->GetActiveControl();
  if (active && active->isVisible() && active->isEnabled() && active->focusPolicy() != Qt::NoFocus)
    active->setFocus(Qt::ActiveWindowFocusReason);
  else
    focusNextChild();
}

void TTdTaskDialogForm::childEvent(QChildEvent* Event) {
  QDialog::childEvent(Event);
  // The window sees its controls' keys before they do.
  if (Event->added() && Event->child()->isWidgetType())
    Event->child()->installEventFilter(this);
}

bool TTdTaskDialogForm::eventFilter(QObject* Watched, QEvent* Event) {
  if (Event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent*>(Event)))
    return true;
  return QDialog::eventFilter(Watched, Event);
}

void TTdTaskDialogForm::keyPressEvent(QKeyEvent* Event) {
  // A key of a focused control (the filter watches the window's own
  // controls) reaches the window only when the control let it pass, after
  // the filter has seen it once already.
  QWidget* focused = focusWidget();
  const bool seen = focused && focused != this && focused->parentWidget() == this;
  if (!seen && handleKey(Event))
    return;
  // QDialog would close on Esc and press its own default on Enter; both are
  // ours.
  if (Event->key() == Qt::Key_Escape || Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) {
    Event->accept();
    return;
  }
  QDialog::keyPressEvent(Event);
}

bool TTdTaskDialogForm::handleKey(QKeyEvent* Event) {
  if (FDialog->OnKeyPress)
    FDialog->OnKeyPress(FDialog, Event);
  const Qt::KeyboardModifiers held =
      Event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
  if (held == Qt::ControlModifier && Event->key() == Qt::Key_C) {
    QApplication::beep();
    QApplication::clipboard()->setText(GetDialogText());
    return true;
  }
  if (held == Qt::AltModifier && Event->key() == Qt::Key_F4 && !FDialog->AllowCancel)
    return true;
  if (held == Qt::AltModifier || Event->key() == Qt::Key_Alt)
    for (QPushButton* control : FDialog->customButtonControls())
      if (auto* link = qobject_cast<TTdCommandLinkButton*>(control))
        link->setShowKeyboardCues(true);
  if (held != Qt::NoModifier)
    return false;
  if (Event->key() == Qt::Key_Escape) {
    if (auto* cancel = qobject_cast<QPushButton*>(FDialog->cancelControl()); cancel && cancel->isEnabled())
      cancel->click();
    return true;
  }
  if (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter) {
    QPushButton* target = qobject_cast<QPushButton*>(focusWidget());
    if (!target || !target->isVisible())
      target = qobject_cast<QPushButton*>(FDialog->defaultControl());
    if (target && target->isEnabled())
      target->click();
    return true;
  }
  return false;
}

void TTdTaskDialogForm::reject() {
  // Esc is handled as a key; what reaches here is a request to close.
  close();
}

void TTdTaskDialogForm::closeEvent(QCloseEvent* Event) {
  if (!FDialog->FClosedByButton && !FDialog->AllowCancel) {
    Event->ignore();
    return;
  }
  FDialog->DoDialogClose();
  Event->accept();
  done(FDialog->FModalResult);
}
