#pragma once

// The exception dialog: the error text with its icon and the buttons the
// settings offer (send, save, print and show at the left of the bottom row;
// continue, restart and close at the right, stacked when both groups are
// there), and, once the user asks for it, the bug report's details below.
// The dialog decides nothing about the program: every button becomes an
// action code the owner carries out and answers with FinishAction. A close
// request from the window system does nothing; Escape runs the action that
// closing stands for.

#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>

#include <array>
#include <functional>

#include "crashreport/zebCrashUiDialog.h"

class QLabel;
class QTimer;

namespace zeb {

class TDetailsView;

// A dialog button that can show the countdown's line.
class TExceptButton : public QPushButton {
  Q_OBJECT
public:
  using QPushButton::QPushButton;
  void SetCountdownX(int x);
  int CountdownX() const { return countdownX_; }

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  int countdownX_ = -1;
};

class TExceptionBox : public QDialog {
  Q_OBJECT
public:
  explicit TExceptionBox(const DialogInput& input, const CrashUiReport& report = {}, QWidget* parent = nullptr);
  ~TExceptionBox() override;

  const DialogLayout& Layout() const { return layout_; }
  // Null for a button that is not shown.
  TExceptButton* Button(int index) const;
  // Null while the report is not shown.
  TDetailsView* DetailsView() const { return details_; }
  // The report as it stands; the details follow it.
  void SetReport(const CrashUiReport& report);
  // The owner's answer to actionRequested: continue ends the dialog, restart
  // and close end it unless a handler took them over, show ends it to be
  // shown again with the report; the others leave it open.
  void FinishAction(int code, bool handled);
  // Ends the dialog with no action (the frozen program answered again).
  void EndWithoutAction();
  // The save button goes once a save leaves nothing more to choose.
  void RemoveSaveButton();
  bool ActionPending() const { return pending_; }
  bool ShowAgain() const { return showAgain_; }
  // The action that ended the dialog; -1 when none did.
  int EndingAction() const { return endingAction_; }
  bool CountdownRunning() const;
  // Runs the action of a button as a click would.
  void RunButton(int index);
  // The text Ctrl+C copies.
  QString CopyText() const;

  // Called with every dialog just before it is shown.
  static void SetCreatedHook(std::function<void(TExceptionBox*)> hook);

signals:
  void actionRequested(int code);
  // The owner answered an action that leaves the dialog open.
  void actionFinished(int code, bool handled);

public:
  // Escape: the action that closing the window stands for.
  void reject() override;

protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  void BuildWindow();
  void StartCountdown();
  void StopCountdown();
  void CountdownTick();
  void RequestAction(int code);

  DialogInput input_;
  DialogLayout layout_;
  CrashUiReport report_;
  std::array<TExceptButton*, kButtonCount> buttons_{};
  QLabel* icon_ = nullptr;
  QLabel* text_ = nullptr;
  TDetailsView* details_ = nullptr;
  QTimer* countdown_ = nullptr;
  QElapsedTimer countdownClock_;
  bool showAgain_ = false;
  bool pending_ = false;
  bool shownOnce_ = false;
  int endingAction_ = -1;
};

// The glyph of a button index as a theme icon (the style's icon where the
// theme has none).
QIcon ExceptGlyph(int glyph, const QWidget* widget);

}  // namespace zeb
