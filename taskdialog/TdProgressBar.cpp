#include "taskdialog/TdProgressBar.h"

#include <QApplication>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "taskdialog/TdTypes.h"

QRect TdProgressChunkRect(const QRect& Client, int Margin, int Position, int Max) {
  const QRect inner = Client.adjusted(Margin, Margin, -Margin, -Margin);
  if (Max <= 0)
    return inner;
  int right = Margin;
  if (Position != 0) {
    // The factor is kept in single precision and the product is not: that
    // is what puts 50 of 100 on a 145-pixel bar at 69, not 70.
    const float factor = static_cast<float>(Client.width() - 6) / static_cast<float>(Max);
    right = static_cast<int>(std::nearbyint(static_cast<double>(Position) * static_cast<double>(factor)));
  }
  return QRect(QPoint(Client.x() + Margin, inner.y()), QPoint(Client.x() + right - 1, inner.bottom()));
}

QColor TdProgressStateColor(TProgressBarState State) {
  switch (State) {
    case pbstError: return TdColor(0x00FFFF);
    case pbstPaused: return TdColor(0x0000FF);
    case pbstNormal: break;
  }
  return TdColor(0x800000);
}

TTdMarqueeSteps::TTdMarqueeSteps(const QRect& Client, int Margin, int ChunkWidth)
    : FClient(Client), FMargin(Margin), FChunkWidth(ChunkWidth) {}

QRect TTdMarqueeSteps::next() {
  const int clientLeft = FClient.x();
  const int clientRight = FClient.x() + FClient.width();
  int left = 0;
  int right = 0;
  if (FP < FChunkWidth) {
    left = clientLeft + FMargin;
    right = left + FP;
  } else {
    left = FP - FChunkWidth;
    right = FP;
  }
  right = std::min(right, clientRight - FMargin);
  FP += 8;
  if (FChunkWidth + clientRight < FP)
    FP = clientLeft + FMargin;
  return QRect(left, FClient.y() + FMargin, std::max(0, right - left), FClient.height() - 2 * FMargin);
}

// --- The self-drawn bar ----------------------------------------------------------

TTdProgressBar::TTdProgressBar(QWidget* Parent)
    : QWidget(Parent), FTimer(new QTimer(this)), FSteps(QRect(0, 0, 145, 15), 1, 40), FProgressColor(0, 0xFF, 0) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(145, 15);
  FTimer->setInterval(FInterval);
  connect(FTimer, &QTimer::timeout, this, &TTdProgressBar::marqueeTick);
}

TTdProgressBar::~TTdProgressBar() { FTimer->stop(); }

void TTdProgressBar::restartMarquee(bool Start) {
  FTimer->stop();
  FMarqueeChunk = {};
  if (Start) {
    FSteps = TTdMarqueeSteps(rect(), 1, FChunkWidth);
    FTimer->setInterval(FInterval);
    FTimer->start();
  }
  update();
}

void TTdProgressBar::marqueeTick() {
  FMarqueeChunk = FSteps.next();
  update();
}

void TTdProgressBar::setActive(bool Active) {
  if (Active == FActive)
    return;
  FActive = Active;
  restartMarquee(Active);
}

void TTdProgressBar::setInterval(int Interval) {
  if (Interval == FInterval)
    return;
  FInterval = Interval;
  if (FActive)
    restartMarquee(true);
}

void TTdProgressBar::setPosition(int Position) {
  if (Position == FPosition)
    return;
  FPosition = Position;
  DoProgress();
  update();
}

void TTdProgressBar::setMax(int Max) {
  if (Max == FMax)
    return;
  FMax = Max;
  update();
}

void TTdProgressBar::setProgressStyle(TProgressStyle Style) {
  if (Style == FStyle)
    return;
  FStyle = Style;
  StyleChanged(Style);
  update();
}

void TTdProgressBar::StyleChanged(TProgressStyle Style) {
  if (Style == psNormal) {
    setActive(false);
    setPosition(0);
  }
}

void TTdProgressBar::setChunkWidth(int Width) {
  if (FStyle != psMarquee) {
    FChunkWidth = Width;
    return;
  }
  const bool wasActive = FActive;
  setActive(false);
  FChunkWidth = Width;
  setActive(wasActive);
}

void TTdProgressBar::setState(TProgressBarState State) {
  if (State == FState)
    return;
  FState = State;
  if (FStyle == psMarquee)
    setActive(State == pbstNormal);
  update();
}

void TTdProgressBar::setProgressColor(const QColor& Color) {
  FProgressColor = Color;
  update();
}

void TTdProgressBar::DoProgress() {
  if (OnProgress)
    OnProgress(this);
}

void TTdProgressBar::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  if (FStyle == psMarquee && FActive)
    restartMarquee(true);
}

void TTdProgressBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor face = palette().color(QPalette::Button);
  painter.fillRect(rect(), face);
  painter.setPen(face);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  const QRect chunk = FStyle == psMarquee ? FMarqueeChunk : TdProgressChunkRect(rect(), 1, FPosition, FMax);
  if (chunk.width() <= 0 || chunk.height() <= 0)
    return;
  const QColor color = TdProgressStateColor(FState);
  painter.fillRect(chunk, color);
  painter.setPen(color);
  painter.drawRect(chunk.adjusted(0, 0, -1, -1));
}

// --- Qt's bar with the dialog's settings ----------------------------------------

TTdProgressBarEx::TTdProgressBarEx(QWidget* Parent) : QProgressBar(Parent) {
  setTextVisible(false);
  setFixedHeight(15);
  setRange(0, FRangeMax);
}

void TTdProgressBarEx::setRangeMax(int Max) {
  FRangeMax = Max;
  apply();
}

void TTdProgressBarEx::setActive(bool Active) {
  FActive = Active;
  apply();
}

void TTdProgressBarEx::setInterval(int Interval) {
  // Qt's busy indicator keeps its own pace; the interval is kept for those
  // who read it back.
  FInterval = Interval;
}

void TTdProgressBarEx::setState(TProgressBarState State) {
  FState = State;
  QPalette palette = QApplication::palette(this);
  if (State == pbstError)
    palette.setColor(QPalette::Highlight, QColor(0xDA, 0x26, 0x26));
  else if (State == pbstPaused)
    palette.setColor(QPalette::Highlight, QColor(0xDA, 0xCB, 0x26));
  setPalette(palette);
  apply();
}

void TTdProgressBarEx::apply() {
  // The error and paused states halt a marquee; its chunk shows their colour.
  const bool busyNow = marquee() && FActive && FState == pbstNormal;
  if (busyNow) {
    setRange(0, 0);
    return;
  }
  const int value = this->value();
  setRange(0, FRangeMax);
  if (marquee() && FState != pbstNormal)
    setValue(FRangeMax);
  else
    setValue(std::max(0, value));
}
