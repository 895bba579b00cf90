#pragma once

// The progress window: a small top-most window with a caption, an optional
// icon, the current area's text and a bar over weighted areas. The user
// cannot close it; its owner does.

#include <QDialog>
#include <QPointer>

#include "crashreport/zebCrashUiProgress.h"

class QLabel;
class QProgressBar;

namespace zeb {

class TProgressWindow : public QDialog {
  Q_OBJECT
public:
  // `iconGlyph`: a glyph index of the exception dialog's icons, -1 for none.
  explicit TProgressWindow(QString title, int iconGlyph = -1, QWidget* owner = nullptr);
  ~TProgressWindow() override;

  QString Title() const { return title_; }
  void SetTitle(const QString& title);
  int Position() const { return areas_.Position(); }
  void SetPosition(int position);
  void AddArea(std::int64_t weight, const std::string& text);
  void ClearAreas();
  void AreaDone() { SetCurrentArea(areas_.CurrentArea() + 1); }
  int CurrentArea() const { return areas_.CurrentArea(); }
  void SetCurrentArea(int index);

  // False when it is shown already. Without `activate` it stands in the
  // bottom-right corner of the work area and does not take the focus.
  bool ShowWindow(QWidget* parent, bool activate);
  void CloseWindow();
  bool IsShown() const { return shown_; }

  int BarValue() const;
  QString Text() const;

protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void UpdateBar();

  QString title_;
  int iconGlyph_;
  ProgressAreas areas_;
  QLabel* icon_ = nullptr;
  QLabel* text_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QPointer<QWidget> disabledParent_;
  bool shown_ = false;
  bool closing_ = false;
};

}  // namespace zeb
