#pragma once

// The text editor control. The model (lines, caret, marks, notifications)
// lives in TCodeEditCore; this scroll area is its screen: it measures the
// font through its text drawer, paints the gutter strip and the visible
// lines into an opaque viewport and turns Qt events into model calls.

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QFont>

#include <functional>
#include <memory>

#include "editor/CodeEditCore.h"
#include "editor/CodeEditLines.h"
#include "editor/CodeTextDrawer.h"

namespace codeedit {

class TCodeInternalImage;

enum TBorderStyle : std::uint8_t { bsNone = 0, bsSingle = 1 };

class TCodeEdit : public QAbstractScrollArea, public CodeEditView, public CodeEditLines {
  Q_OBJECT

public:
  explicit TCodeEdit(QWidget* Parent = nullptr);
  ~TCodeEdit() override;

  TCodeEditCore& Core() { return *FCore; }
  TCodeEditStringList& Lines() { return FCore->Lines(); }
  TheTextDrawer& TextDrawer() { return *FTextDrawer; }

  // A proportional font is replaced by a fixed-pitch one of the same family,
  // size and style; when matching still gives a proportional face, the
  // system's fixed font at that size and style.
  void SetFont(const QFont& Value);
  QFont Font() const { return font(); }
  static QFont FixedPitchFont(const QFont& Value);

  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle Value);
  int ExtraLineSpacing() const { return FExtraLineSpacing; }
  void SetExtraLineSpacing(int Value);

  // CodeEditView
  bool HasWindow() const override { return true; }
  int CharCells(char16_t Ch) override { return FTextDrawer->CharCells(Ch); }
  void InvalidateAll() override;
  void InvalidateTextLines(int FirstLine, int LastLine) override;
  void InvalidateGutterLines(int FirstLine, int LastLine) override;
  void ScrollText(int DeltaColumns, int DeltaRows) override;
  void UpdateScrollBars() override;
  bool HasFocus() const override { return hasFocus(); }
  bool PlaceCaret() override;
  void CaretShapeChanged() override;
  int GutterCharWidth(const TCodeFontDesc& Font) override;
  // The caret in viewport pixels; empty outside the text area.
  QRect CaretRect() const;
  QVariant inputMethodQuery(Qt::InputMethodQuery Query) const override;

  // CodeEditLines: what a change-log pane offers the main window.
  int Count() const override { return FCore->LineCount(); }
  void Add(const QString& Line) override;
  void AddStrings(const std::vector<std::string>& Lines) override;
  QString Text() const override;

  // After each paint, with the viewport's painter.
  std::function<void(TCodeEdit& Sender, QPainter& Canvas)> OnPaint;

  // The number of exceptions an event handler caught and reported.
  int CaughtExceptions() const { return FCaughtExceptions; }

protected:
  void paintEvent(QPaintEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void scrollContentsBy(int Dx, int Dy) override;

private:
  // Model code runs inside Qt's event loop: whatever it throws stops here.
  template <class F>
  void Guarded(const char* Where, F&& Body);
  void EditorFontChanged();
  void timerEvent(QTimerEvent* Event) override;
  void RestartCaretBlink();
  TBufferCoord PixelsToBufferPos(QPoint Pos);

  std::unique_ptr<TCodeEditCore> FCore;
  std::unique_ptr<TheTextDrawer> FTextDrawer;
  TBorderStyle FBorderStyle = bsSingle;
  int FExtraLineSpacing = 0;
  int FCaughtExceptions = 0;
  // Set while the scroll bars take the model's numbers: their signals then
  // only echo what the model already holds.
  bool FUpdatingScrollBars = false;
  // The caret blinks at half the platform's flash time; FCaretRect is where
  // it was last painted.
  QBasicTimer FCaretTimer;
  bool FCaretBlinkOn = true;
  QRect FCaretRect;
  QMetaObject::Connection FFocusConnection;
  std::unique_ptr<TCodeInternalImage> FInternalImages;
};

}  // namespace codeedit
