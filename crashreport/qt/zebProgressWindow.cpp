#include "crashreport/qt/zebProgressWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QStyle>

#include <algorithm>

#include "crashreport/qt/zebExceptDialog.h"

namespace zeb {

TProgressWindow::TProgressWindow(QString title, int iconGlyph, QWidget* owner)
    : QDialog(owner), title_(std::move(title)), iconGlyph_(iconGlyph) {
  setObjectName(QStringLiteral("prgrAlertWnd"));
  setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint);
  setWindowTitle(title_);
}

TProgressWindow::~TProgressWindow() { CloseWindow(); }

void TProgressWindow::SetTitle(const QString& title) {
  if (title == title_) return;
  title_ = title;
  setWindowTitle(title_);
}

void TProgressWindow::SetPosition(int position) {
  areas_.SetPosition(position);
  UpdateBar();
}

void TProgressWindow::AddArea(std::int64_t weight, const std::string& text) { areas_.AddArea(weight, text); }

void TProgressWindow::ClearAreas() { areas_.ClearAreas(); }

void TProgressWindow::SetCurrentArea(int index) {
  if (!areas_.SetCurrentArea(index)) return;
  if (text_) text_->setText(QString::fromStdString(areas_.CurrentText()));
  UpdateBar();
}

int TProgressWindow::BarValue() const { return bar_ ? bar_->value() : areas_.BarPosition(); }

QString TProgressWindow::Text() const { return text_ ? text_->text() : QString(); }

void TProgressWindow::UpdateBar() {
  if (!bar_) return;
  bar_->setValue(areas_.BarPosition());
  bar_->repaint();
}

bool TProgressWindow::ShowWindow(QWidget* parent, bool activate) {
  if (shown_) return false;
  if (parent && parent->isEnabled()) {
    parent->setEnabled(false);
    disabledParent_ = parent;
  }
  areas_.EnsureArea();

  // The text is as large as the largest text still to come, so the window
  // does not jump as the areas pass.
  const QFontMetrics metrics(font());
  int textWidth = 0, textHeight = 0;
  for (std::size_t k = std::size_t(areas_.CurrentArea()); k < areas_.Areas().size(); ++k) {
    const QRect r = metrics.boundingRect(QRect(0, 0, 420, 100000), Qt::TextWordWrap,
                                         QString::fromStdString(areas_.Areas()[k].text));
    textWidth = std::max(textWidth, r.width());
    textHeight = std::max(textHeight, r.height());
  }
  int x = 11, y = 12;
  if (iconGlyph_ >= 0) {
    icon_ = new QLabel(this);
    icon_->setPixmap(ExceptGlyph(iconGlyph_, this).pixmap(32, 32));
    icon_->setGeometry(9, 9, 32, 32);
    textWidth += 40;
    x = 51;
    if (textHeight < 26) {
      y = (26 - textHeight) / 2 + 12;
      textHeight = 26;
    }
  }
  textWidth = std::max(textWidth, 220);
  text_ = new QLabel(QString::fromStdString(areas_.CurrentText()), this);
  text_->setObjectName(QStringLiteral("progressText"));
  text_->setWordWrap(true);
  text_->setGeometry(x, y, textWidth - (x - 11), textHeight);
  const int barHeight = style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2;
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("progressBar"));
  bar_->setRange(0, 1000);
  bar_->setTextVisible(false);
  bar_->setGeometry(11, textHeight + 24, textWidth, barHeight);
  setFixedSize(textWidth + 22, textHeight + 36 + barHeight);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    if (activate) move(area.center() - QPoint(width() / 2, height() / 2));
    else move(area.right() - width() - 2, area.bottom() - height() - 2);
  }
  setAttribute(Qt::WA_ShowWithoutActivating, !activate);
  show();
  if (activate) {
    raise();
    activateWindow();
  }
  shown_ = true;
  UpdateBar();
  return true;
}

void TProgressWindow::CloseWindow() {
  if (!shown_) return;
  closing_ = true;
  hide();
  delete icon_;
  delete text_;
  delete bar_;
  icon_ = nullptr;
  text_ = nullptr;
  bar_ = nullptr;
  shown_ = false;
  closing_ = false;
  if (disabledParent_) {
    disabledParent_->setEnabled(true);
    disabledParent_->activateWindow();
    disabledParent_ = nullptr;
  }
}

void TProgressWindow::closeEvent(QCloseEvent* event) {
  // The user cannot close it (Alt+F4 included); CloseWindow hides it.
  if (!closing_) event->ignore();
}

void TProgressWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) return;  // no reject by Escape either
  QDialog::keyPressEvent(event);
}

}  // namespace zeb
