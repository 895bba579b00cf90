#pragma once

// The dialog's progress bars. TTdProgressBar draws itself in the classic
// look; its marquee (a chunk sliding through the bar) steps on a QTimer of
// the GUI thread, since only that thread may paint a widget.
// TTdProgressBarEx and TTdProgressBarMarquee are Qt's progress bar with the
// dialog's state and marquee settings; the marquee is the bar's busy range.
//
// The geometry of both the chunk and the marquee is plain arithmetic
// (TdProgressChunkRect, TTdMarqueeSteps), so tests drive it without a
// window or a timer.

#include <QColor>
#include <QProgressBar>
#include <QRect>
#include <QWidget>

#include <functional>

#include "taskdialog/TdDialog.h"

class QTimer;

enum TProgressStyle { psNormal, psMarquee };

// The chunk of a bar at Position of Max inside Client less Margin: from the
// margin to Position × ((width − 6) / Max), the factor held in single
// precision and the product rounded to the nearest integer, halves to even.
QRect TdProgressChunkRect(const QRect& Client, int Margin, int Position, int Max);

// The chunk colour of a state in the classic look.
QColor TdProgressStateColor(TProgressBarState State);

// The marquee's chunk, one step at a time: it grows in from the left until
// it is ChunkWidth wide, then slides 8 pixels a step, and starts again at
// the left once it has left the bar.
class TTdMarqueeSteps {
 public:
  TTdMarqueeSteps(const QRect& Client, int Margin, int ChunkWidth);
  // The chunk to draw at this step; then moves on.
  QRect next();
  int position() const { return FP; }

 private:
  QRect FClient;
  int FMargin;
  int FChunkWidth;
  int FP = 0;
};

class TTdProgressBar : public QWidget {
  Q_OBJECT
 public:
  explicit TTdProgressBar(QWidget* Parent = nullptr);
  ~TTdProgressBar() override;

  bool active() const { return FActive; }
  // True starts the marquee, False stops it.
  void setActive(bool Active);
  int interval() const { return FInterval; }
  void setInterval(int Interval);
  int position() const { return FPosition; }
  void setPosition(int Position);
  int max() const { return FMax; }
  void setMax(int Max);
  int step() const { return FStep; }
  void setStep(int Step) { FStep = Step; }
  TProgressStyle progressStyle() const { return FStyle; }
  void setProgressStyle(TProgressStyle Style);
  int chunkWidth() const { return FChunkWidth; }
  void setChunkWidth(int Width);
  TProgressBarState state() const { return FState; }
  // With the marquee style only the normal state runs the marquee.
  void setState(TProgressBarState State);
  QColor progressColor() const { return FProgressColor; }
  void setProgressColor(const QColor& Color);

  // The chunk of the marquee's last step; empty before the first.
  QRect marqueeChunk() const { return FMarqueeChunk; }
  // Runs one marquee step as the timer does.
  void marqueeTick();
  // The timer behind the marquee, for those who watch it.
  const QTimer* marqueeTimer() const { return FTimer; }

  std::function<void(TTdProgressBar*)> OnProgress;

 protected:
  virtual void DoProgress();
  virtual void StyleChanged(TProgressStyle Style);
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  // Stops the marquee and, when Start, begins it again from the left with
  // the current interval, chunk width, size and state.
  void restartMarquee(bool Start);

  QTimer* FTimer;
  TTdMarqueeSteps FSteps;
  QRect FMarqueeChunk;
  QColor FProgressColor;
  int FInterval = 100;
  int FPosition = 0;
  int FMax = 100;
  int FStep = 1;
  int FChunkWidth = 40;
  TProgressStyle FStyle = psNormal;
  TProgressBarState FState = pbstNormal;
  bool FActive = false;
};

// Qt's progress bar with the dialog's settings: Active runs the busy
// indicator, the error and paused states stop it and colour the chunk.
class TTdProgressBarEx : public QProgressBar {
  Q_OBJECT
 public:
  explicit TTdProgressBarEx(QWidget* Parent = nullptr);

  bool active() const { return FActive; }
  void setActive(bool Active);
  int interval() const { return FInterval; }
  void setInterval(int Interval);
  TProgressBarState state() const { return FState; }
  void setState(TProgressBarState State);
  // Whether the bar shows its busy indicator now.
  bool busy() const { return minimum() == 0 && maximum() == 0; }

 protected:
  // The bar's range while it is not busy.
  void apply();
  virtual bool marquee() const { return false; }

 private:
  int FRangeMax = 100;
  int FInterval = 100;
  TProgressBarState FState = pbstNormal;
  bool FActive = false;

 public:
  // Sets the range kept while busy; the busy range hides it.
  void setRangeMax(int Max);
};

class TTdProgressBarMarquee : public TTdProgressBarEx {
  Q_OBJECT
 public:
  using TTdProgressBarEx::TTdProgressBarEx;

 protected:
  bool marquee() const override { return true; }
};
