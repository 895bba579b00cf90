#include "crashreport/qt/zebExceptDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTimer>

#include "crashreport/qt/zebCrashUiText.h"
#include "crashreport/qt/zebDetailsView.h"

namespace zeb {

namespace {

std::function<void(TExceptionBox*)>& CreatedHook() {
  static std::function<void(TExceptionBox*)> hook;
  return hook;
}

const char* const kButtonNames[kButtonCount] = {"sendButton",     "saveButton",    "printButton", "showButton",
                                                "continueButton", "restartButton", "closeButton"};

}  // namespace

QIcon ExceptGlyph(int glyph, const QWidget* widget) {
  struct Glyph {
    const char* theme;
    QStyle::StandardPixmap fallback;
  };
  static const Glyph kGlyphs[] = {
      {"mail-send", QStyle::SP_ArrowForward},          {"document-save", QStyle::SP_DialogSaveButton},
      {"document-print", QStyle::SP_FileDialogDetailedView}, {"document-preview", QStyle::SP_FileDialogContentsView},
      {"media-playback-start", QStyle::SP_MediaPlay},  {"view-refresh", QStyle::SP_BrowserReload},
      {"application-exit", QStyle::SP_DialogCloseButton}, {"process-stop", QStyle::SP_BrowserStop},
      {"dialog-error", QStyle::SP_MessageBoxCritical},
  };
  if (glyph < 0 || glyph > kBigGlyph) return {};
  const Glyph& g = kGlyphs[glyph];
  return QIcon::fromTheme(QString::fromLatin1(g.theme), widget->style()->standardIcon(g.fallback));
}

void TExceptButton::SetCountdownX(int x) {
  if (x == countdownX_) return;
  countdownX_ = x;
  update();
}

void TExceptButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  if (countdownX_ < 0) return;
  QPainter painter(this);
  const QColor line = palette().color(QPalette::Shadow);
  const QColor face = palette().color(QPalette::Button);
  // A soft line: full colour in the middle, fading towards the face.
  for (int i = 3; i >= 0; --i) {
    QColor c((line.red() * (4 - i) + face.red() * i) / 4, (line.green() * (4 - i) + face.green() * i) / 4,
             (line.blue() * (4 - i) + face.blue() * i) / 4);
    painter.setPen(c);
    painter.drawLine(countdownX_ + i, 4, countdownX_ + i, height() - 5);
    painter.drawLine(countdownX_ - i, 4, countdownX_ - i, height() - 5);
  }
}

void TExceptionBox::SetCreatedHook(std::function<void(TExceptionBox*)> hook) { CreatedHook() = std::move(hook); }

TExceptionBox::TExceptionBox(const DialogInput& input, const CrashUiReport& report, QWidget* parent)
    : QDialog(parent), input_(input), report_(report) {
  setObjectName(QStringLiteral("zebExceptWnd"));
  BuildWindow();
}

TExceptionBox::~TExceptionBox() = default;

void TExceptionBox::BuildWindow() {
  const QFontMetrics metrics(font());
  DialogMetrics m;
  m.textWidth = [&metrics](std::string_view text) {
    return metrics.horizontalAdvance(QString::fromUtf8(text.data(), qsizetype(text.size())));
  };
  m.textSize = [&metrics](std::string_view text, int width) {
    QString t = QString::fromUtf8(text.data(), qsizetype(text.size()));
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QRect r = metrics.boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, t);
    return std::pair{r.width(), r.height()};
  };
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    m.screenWidth = screen->availableGeometry().width();
    m.screenHeight = screen->availableGeometry().height();
  }
  m.captionHeight = style()->pixelMetric(QStyle::PM_TitleBarHeight);
  m.hasIcon = true;
  layout_ = LayoutExceptionDialog(input_, m);

  setWindowTitle(CrashUiText(layout_.title));
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint;
  if (layout_.resizable) flags |= Qt::WindowMinMaxButtonsHint;
  setWindowFlags(flags);

  icon_ = new QLabel(this);
  icon_->setObjectName(QStringLiteral("iconWindow"));
  icon_->setPixmap(ExceptGlyph(kBigGlyph, this).pixmap(32, 32));
  icon_->setGeometry(layout_.iconRect.x, layout_.iconRect.y, layout_.iconRect.width, layout_.iconRect.height);

  text_ = new QLabel(CrashUiText(layout_.text), this);
  text_->setObjectName(QStringLiteral("messageText"));
  text_->setWordWrap(true);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  text_->setGeometry(layout_.textRect.x, layout_.textRect.y, layout_.textRect.width, layout_.textRect.height);

  for (int k = 0; k < kButtonCount; ++k) {
    const DialogButton& b = layout_.buttons[std::size_t(k)];
    if (!b.visible) continue;
    auto* button = new TExceptButton(CrashUiText(b.caption), this);
    button->setObjectName(QString::fromLatin1(kButtonNames[k]));
    button->setGeometry(b.rect.x, b.rect.y, b.rect.width, b.rect.height);
    if (!layout_.simpleBox) {
      button->setIcon(ExceptGlyph(b.glyph, this));
      button->setIconSize(QSize(16, 16));
    }
    button->setEnabled(b.enabled);
    button->setAutoDefault(true);
    connect(button, &QPushButton::clicked, this, [this, k] { RunButton(k); });
    buttons_[std::size_t(k)] = button;
  }
  // Creation order is the tab order: left group, then the right one.
  if (layout_.focused >= 0 && buttons_[std::size_t(layout_.focused)]) {
    buttons_[std::size_t(layout_.focused)]->setDefault(true);
    buttons_[std::size_t(layout_.focused)]->setFocus(Qt::OtherFocusReason);
  }

  if (layout_.showBugReport) {
    details_ = new TDetailsView(this);
    details_->setGeometry(layout_.tabRect.x, layout_.tabRect.y, layout_.tabRect.width, layout_.tabRect.height);
    details_->SetReport(report_);
  }

  if (layout_.resizable) {
    resize(layout_.width, layout_.height);
    setMinimumSize(layout_.width, layout_.height);
  } else {
    setFixedSize(layout_.width, layout_.height);
  }
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - layout_.width) / 2, area.y() + (area.height() - layout_.height) / 2);
  }

  // Any focus move between the dialog's buttons ends a countdown, as a click does.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
    if (old && now && old->window() == this && now->window() == this) StopCountdown();
  });
  StartCountdown();
}

TExceptButton* TExceptionBox::Button(int index) const {
  if (index < 0 || index >= kButtonCount) return nullptr;
  return buttons_[std::size_t(index)];
}

void TExceptionBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  if (CreatedHook()) CreatedHook()(this);
  if (input_.facts.beep) QApplication::beep();
  raise();
  activateWindow();
}

void TExceptionBox::SetReport(const CrashUiReport& report) {
  report_ = report;
  if (details_) details_->SetReport(report_);
}

void TExceptionBox::StartCountdown() {
  if (layout_.countdownButton < 0 || input_.facts.settings.Int("AutoDelay") <= 0) return;
  countdown_ = new QTimer(this);
  countdown_->setInterval(10);
  connect(countdown_, &QTimer::timeout, this, &TExceptionBox::CountdownTick);
  countdownClock_.start();
  countdown_->start();
}

bool TExceptionBox::CountdownRunning() const { return countdown_ && countdown_->isActive(); }

void TExceptionBox::StopCountdown() {
  if (!CountdownRunning()) return;
  countdown_->stop();
  if (TExceptButton* button = Button(layout_.countdownButton)) button->SetCountdownX(-1);
}

void TExceptionBox::CountdownTick() {
  TExceptButton* button = Button(layout_.countdownButton);
  if (!button) return StopCountdown();
  const CountdownStep step = CountdownPosition(countdownClock_.elapsed(), button->width(),
                                               input_.facts.settings.Int("AutoDelay"),
                                               input_.facts.settings.Bool("UglyBtns"));
  if (step.due) {
    const int index = layout_.countdownButton;
    StopCountdown();
    QTimer::singleShot(0, this, [this, index] { RunButton(index); });
    return;
  }
  button->SetCountdownX(step.x);
}

void TExceptionBox::RunButton(int index) {
  TExceptButton* button = Button(index);
  if (!button || !button->isEnabled()) return;
  StopCountdown();
  RequestAction(ButtonAction(index, input_.facts.canContinue));
}

void TExceptionBox::RequestAction(int code) {
  if (code < 0 || pending_) return;
  // One action at a time: the owner answers each before the next runs.
  pending_ = true;
  if (code == kActionSend || code == kActionSave || code == kActionPrint) QApplication::setOverrideCursor(Qt::WaitCursor);
  emit actionRequested(code);
}

void TExceptionBox::FinishAction(int code, bool handled) {
  if (!pending_) return;
  pending_ = false;
  if (code == kActionSend || code == kActionSave || code == kActionPrint) QApplication::restoreOverrideCursor();
  bool ends = false;
  switch (code) {
    case kActionContinue: ends = true; break;
    case kActionRestart:
    case kActionClose: ends = !handled; break;
    case kActionShow:
      showAgain_ = true;
      ends = true;
      break;
    default: break;
  }
  if (!ends) {
    emit actionFinished(code, handled);
    return;
  }
  endingAction_ = code;
  StopCountdown();
  done(code);
}

void TExceptionBox::RemoveSaveButton() {
  TExceptButton*& save = buttons_[std::size_t(kSaveButton)];
  if (!save) return;
  if (save->hasFocus()) focusNextChild();
  delete save;
  save = nullptr;
}

void TExceptionBox::EndWithoutAction() {
  StopCountdown();
  done(-1);
}

void TExceptionBox::reject() {
  // Escape: what closing the window stands for.
  RequestAction(CloseWindowAction(layout_, layout_.focusedSetting, input_.facts.canContinue));
}

void TExceptionBox::closeEvent(QCloseEvent* event) {
  // The caption's close button and the window manager's close do nothing.
  event->ignore();
}

QString TExceptionBox::CopyText() const {
  if (input_.facts.settings.Bool("AutoShowBugRep") && !layout_.simpleBox) return CrashUiText(ReportPlainText(report_));
  return CrashUiText(input_.facts.message);
}

void TExceptionBox::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    QGuiApplication::clipboard()->setText(CopyText());
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_F1) {
    if (!pending_) {
      pending_ = true;
      emit actionRequested(kActionHelp);
    }
  }
  QDialog::keyPressEvent(event);
}

void TExceptionBox::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (!layout_.resizable) return;
  const int dx = width() - layout_.width;
  const int dy = height() - layout_.height;
  if (dx < 0 || dy < 0) return;
  for (int k : {int(kContinueButton), int(kRestartButton), int(kCloseButton)}) {
    if (!buttons_[std::size_t(k)]) continue;
    const DialogRect& r = layout_.buttons[std::size_t(k)].rect;
    buttons_[std::size_t(k)]->move(r.x + dx, r.y);
  }
  if (details_)
    details_->resize(layout_.tabRect.width + dx, layout_.tabRect.height + dy);
}

}  // namespace zeb
