#include "editor/CodeEdit.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QApplication>
#include <QGuiApplication>
#include <QInputMethod>
#include <QPaintEvent>
#include <QStyleHints>
#include <QTimerEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <iostream>

#include "editor/CodeEditGlyphs.h"
#include "editor/CodeUnicode.h"

namespace codeedit {

TCodeEdit::TCodeEdit(QWidget* Parent)
    : QAbstractScrollArea(Parent), FCore(std::make_unique<TCodeEditCore>(this)) {
  QFont Initial(QStringLiteral("Courier New"), 10);
  Initial = FixedPitchFont(Initial);
  QAbstractScrollArea::setFont(Initial);
  FTextDrawer = std::make_unique<TheTextDrawer>(fsBold, Initial);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setCursor(Qt::IBeamCursor);
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  SetBorderStyle(bsSingle);
  setAttribute(Qt::WA_InputMethodEnabled);
  resize(200, 150);
  EditorFontChanged();
  // The caret blinks only while the control has the focus; the focus
  // handlers are left alone for that.
  FFocusConnection = connect(qApp, &QApplication::focusChanged, this, [this](QWidget* Old, QWidget* Now) {
    if (Old != this && Now != this)
      return;
    FCaretBlinkOn = true;
    RestartCaretBlink();
    viewport()->update(FCaretRect);
  });
}

TCodeEdit::~TCodeEdit() {
  // The widget's own destruction moves the focus away: this part of the
  // object is gone by then.
  disconnect(FFocusConnection);
  FCore->SetView(nullptr);
  FCore->SetHighlighter(nullptr);
}

template <class F>
void TCodeEdit::Guarded(const char* Where, F&& Body) {
  try {
    Body();
  } catch (const std::exception& E) {
    ++FCaughtExceptions;
    std::cerr << "text editor: " << Where << ": " << E.what() << '\n';
  } catch (...) {
    ++FCaughtExceptions;
    std::cerr << "text editor: " << Where << ": unknown exception\n";
  }
}

QFont TCodeEdit::FixedPitchFont(const QFont& Value) {
  if (QFontInfo(Value).fixedPitch())
    return Value;
  QFont Fixed(Value.family(), Value.pointSize() > 0 ? Value.pointSize() : 10);
  Fixed.setBold(Value.bold());
  Fixed.setItalic(Value.italic());
  Fixed.setUnderline(Value.underline());
  Fixed.setStrikeOut(Value.strikeOut());
  Fixed.setFixedPitch(true);
  Fixed.setStyleHint(QFont::TypeWriter);
  if (QFontInfo(Fixed).fixedPitch())
    return Fixed;
  QFont System = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  System.setPointSize(Fixed.pointSize());
  System.setBold(Value.bold());
  System.setItalic(Value.italic());
  System.setUnderline(Value.underline());
  System.setStrikeOut(Value.strikeOut());
  return System;
}

void TCodeEdit::SetFont(const QFont& Value) {
  QAbstractScrollArea::setFont(FixedPitchFont(Value));
  FCore->Lines().InvalidateExpandedLengths();
  EditorFontChanged();
}

void TCodeEdit::Add(const QString& Line) {
  Guarded("add line", [&] {
    FCore->Lines().Add(std::u16string_view(reinterpret_cast<const char16_t*>(Line.utf16()),
                                           static_cast<std::size_t>(Line.size())));
  });
}

void TCodeEdit::AddStrings(const std::vector<std::string>& Lines) {
  if (Lines.empty())
    return;
  Guarded("add lines", [&] {
    TUnicodeUpdateScope Update(FCore->Lines());
    for (const std::string& Line : Lines)
      FCore->Lines().Add(AnsiToWideInCodePage(Line, DefaultAnsiCodePage()));
  });
}

QString TCodeEdit::Text() const {
  QString Result;
  for (int i = 0; i < FCore->LineCount(); ++i) {
    const std::u16string_view Line = FCore->Lines().LineView(i);
    Result += QString(reinterpret_cast<const QChar*>(Line.data()), static_cast<qsizetype>(Line.size()));
    Result += QStringLiteral("\r\n");
  }
  return Result;
}

void TCodeEdit::SetBorderStyle(TBorderStyle Value) {
  FBorderStyle = Value;
  setFrameStyle(Value == bsSingle ? (QFrame::StyledPanel | QFrame::Sunken) : QFrame::NoFrame);
}

void TCodeEdit::SetExtraLineSpacing(int Value) {
  FExtraLineSpacing = Value;
  EditorFontChanged();
}

void TCodeEdit::EditorFontChanged() {
  FTextDrawer->SetBaseFont(font());
  FCore->FontChanged();
  FCore->FCharWidth = FTextDrawer->CellWidth();
  FCore->FLineHeight = FTextDrawer->CellHeight() + FExtraLineSpacing;
  // The cell width may have changed: the text offset follows it.
  FCore->FTextOffset = FCore->FGutterWidth + 2 - (FCore->FLeftChar - 1) * FCore->FCharWidth;
  FCore->GutterChanged();
  FCore->Lines().InvalidateExpandedLengths();
  FCore->SetClientSize(viewport()->width(), viewport()->height());
  FCore->InitializeCaret();
  UpdateScrollBars();
  viewport()->update();
}

void TCodeEdit::UpdateScrollBars() {
  TCodeEditCore& C = *FCore;
  struct Done {
    bool& Flag;
    bool Old;
    ~Done() { Flag = Old; }
  } Reset{FUpdatingScrollBars, FUpdatingScrollBars};
  FUpdatingScrollBars = true;
  const bool HideShow = C.HasOption(eoHideShowScrollbars);
  // One bar: Qt's range is the first visible position, so its maximum is
  // the model's maximum less a page; a text that fits gives an empty range.
  // A bar is disabled when the view shows all there is (Qt has no arrow of
  // its own to disable, so eoDisableScrollArrows can only mean the whole bar).
  auto Apply = [&](QScrollBar* Bar, bool Wanted, int Maximum, int Page, int Position) {
    const int QtMax = std::max(1, Maximum - Page + 1);
    Bar->setRange(1, QtMax);
    Bar->setPageStep(std::max(1, Page));
    Bar->setSingleStep(1);
    Bar->setValue(Position);
    const bool Fits = Page >= Maximum;
    const bool AtBothEnds = Position <= 1 && static_cast<long long>(Position) + Page - 1 >= Maximum;
    return std::pair<bool, bool>{Wanted && !(HideShow && Fits), !AtBothEnds};
  };
  const TScrollStyle Style = C.ScrollBars();
  auto [ShowH, EnableH] = Apply(horizontalScrollBar(), Style == ssHorizontal || Style == ssBoth, C.HorzScrollMax(),
                                C.FCharsInWindow, C.FLeftChar);
  auto [ShowV, EnableV] = Apply(verticalScrollBar(), Style == ssVertical || Style == ssBoth, C.VertScrollMax(),
                                C.FLinesInWindow, C.FTopLine);
  setHorizontalScrollBarPolicy(ShowH ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(ShowV ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  horizontalScrollBar()->setEnabled(EnableH);
  verticalScrollBar()->setEnabled(EnableV);
}

void TCodeEdit::ScrollText(int DeltaColumns, int DeltaRows) {
  TCodeEditCore& C = *FCore;
  const int Dx = DeltaColumns * C.FCharWidth;
  const int Dy = DeltaRows * C.FLineHeight;
  if (Dy != 0)
    viewport()->scroll(0, Dy);
  if (Dx != 0) {
    // The gutter stays where it is; only the text area moves sideways.
    const int Left = C.FGutterWidth + 2;
    viewport()->scroll(Dx, 0, QRect(Left, 0, std::max(0, viewport()->width() - Left), viewport()->height()));
  }
  // The caret's pixels moved with the text: where they landed is repainted.
  if (!FCaretRect.isEmpty())
    viewport()->update(FCaretRect.translated(Dx, Dy));
}

void TCodeEdit::InvalidateAll() { viewport()->update(); }

void TCodeEdit::InvalidateTextLines(int FirstLine, int LastLine) {
  const TCodeRect R = FCore->TextLinesRect(FirstLine, LastLine);
  if (!R.IsEmpty())
    viewport()->update(R.Left, R.Top, R.Width(), R.Height());
}

void TCodeEdit::InvalidateGutterLines(int FirstLine, int LastLine) {
  const TCodeRect R = FCore->GutterLinesRect(FirstLine, LastLine);
  if (!R.IsEmpty())
    viewport()->update(R.Left, R.Top, R.Width(), R.Height());
}

int TCodeEdit::GutterCharWidth(const TCodeFontDesc& Font) {
  const QFontMetricsF Metrics(TCodePainterDrawer::GutterQFont(Font));
  return std::max(1, static_cast<int>(std::ceil(Metrics.horizontalAdvance(QLatin1Char('0')))));
}

QRect TCodeEdit::CaretRect() const {
  const TCodeRect R = FCore->CaretRect();
  return R.IsEmpty() ? QRect() : QRect(R.Left, R.Top, R.Width(), R.Height());
}

bool TCodeEdit::PlaceCaret() {
  // The old place is repainted without the caret, the new one with it, shown
  // at once so that a moving caret never blinks away.
  viewport()->update(FCaretRect);
  FCaretRect = CaretRect();
  FCaretBlinkOn = true;
  RestartCaretBlink();
  viewport()->update(FCaretRect);
  if (testAttribute(Qt::WA_InputMethodEnabled) && hasFocus())
    QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle);
  return hasFocus();
}

void TCodeEdit::CaretShapeChanged() {
  viewport()->update(FCaretRect);
  FCaretRect = CaretRect();
  viewport()->update(FCaretRect);
}

void TCodeEdit::RestartCaretBlink() {
  const int Flash = QGuiApplication::styleHints()->cursorFlashTime();
  if (Flash > 0 && hasFocus())
    FCaretTimer.start(Flash / 2, this);
  else
    FCaretTimer.stop();
}

void TCodeEdit::timerEvent(QTimerEvent* Event) {
  if (Event->timerId() != FCaretTimer.timerId()) {
    QAbstractScrollArea::timerEvent(Event);
    return;
  }
  Guarded("caret", [this] {
    if (!hasFocus()) {
      FCaretTimer.stop();
      viewport()->update(FCaretRect);
      return;
    }
    FCaretBlinkOn = !FCaretBlinkOn;
    const QRect Now = CaretRect();
    if (Now != FCaretRect)
      viewport()->update(FCaretRect);
    FCaretRect = Now;
    viewport()->update(FCaretRect);
  });
}

QVariant TCodeEdit::inputMethodQuery(Qt::InputMethodQuery Query) const {
  if (Query == Qt::ImCursorRectangle) {
    return CaretRect().translated(viewport()->pos());
  }
  return QAbstractScrollArea::inputMethodQuery(Query);
}

void TCodeEdit::resizeEvent(QResizeEvent* Event) {
  QAbstractScrollArea::resizeEvent(Event);
  Guarded("resize", [this] { FCore->SetClientSize(viewport()->width(), viewport()->height()); });
}

void TCodeEdit::scrollContentsBy(int, int) {
  if (FUpdatingScrollBars)
    return;
  Guarded("scroll", [this] {
    FCore->SetTopLine(verticalScrollBar()->value());
    FCore->SetLeftChar(horizontalScrollBar()->value());
  });
}

void TCodeEdit::paintEvent(QPaintEvent* Event) {
  QPainter Painter(viewport());
  TCodeEditCore& C = *FCore;
  const QPalette& Colours = palette();
  // The background first, so that a failing paint still leaves a clean area.
  for (const QRect& R : Event->region())
    Painter.fillRect(R, CodeColorToQColor(C.EditorBackground(false), Colours));
  TCodePainterDrawer Drawer(Painter, *FTextDrawer, Colours, [this]() -> const TCodeInternalImage& {
    if (!FInternalImages)
      FInternalImages = std::make_unique<TCodeInternalImage>(QStringLiteral("CodeEditInternalImages"), 10);
    return *FInternalImages;
  });
  for (const QRect& R : Event->region()) {
    Guarded("paint", [&] {
      Painter.save();
      struct RestoreOnExit {
        QPainter& P;
        ~RestoreOnExit() { P.restore(); }
      } Restore{Painter};
      Painter.setClipRect(R);
      C.Paint(Drawer, {R.left(), R.top(), R.right() + 1, R.bottom() + 1});
    });
  }
  if (OnPaint)
    Guarded("paint event", [&] { OnPaint(*this, Painter); });
  // The caret inverts what lies under it, as a system caret does.
  if (hasFocus() && FCaretBlinkOn && !C.HasOption(eoNoCaret)) {
    const QRect Caret = CaretRect();
    if (!Caret.isEmpty()) {
      Painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      Painter.fillRect(Caret, Qt::white);
    }
  }
}

TBufferCoord TCodeEdit::PixelsToBufferPos(QPoint Pos) {
  TCodeEditCore& C = *FCore;
  const int Column = std::max(1, C.FLeftChar + (Pos.x() - C.FGutterWidth - 2) / std::max(1, C.FCharWidth));
  const int Row = std::max(1, C.FTopLine + Pos.y() / std::max(1, C.FLineHeight));
  return C.DisplayToBufferPos({Column, Row});
}

void TCodeEdit::keyPressEvent(QKeyEvent* Event) {
  Guarded("key", [&] {
    TCodeEditCore& C = *FCore;
    const QString Text = Event->text();
    if (C.ReadOnly() || Text.isEmpty() || !Text.at(0).isPrint() ||
        (Event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0) {
      QAbstractScrollArea::keyPressEvent(Event);
      return;
    }
    // Typed text goes in at the caret; the editing commands build on this.
    const TBufferCoord Caret = C.CaretXY();
    const int LineIndex = std::max(0, Caret.LinePos - 1);
    if (C.LineCount() == 0)
      C.Lines().Add(u"");
    std::u16string Line(C.LineText(LineIndex + 1));
    const std::size_t At = static_cast<std::size_t>(Caret.CharPos - 1);
    if (Line.size() < At)
      Line.append(At - Line.size(), u' ');
    const std::u16string Typed(reinterpret_cast<const char16_t*>(Text.utf16()), static_cast<std::size_t>(Text.size()));
    Line.insert(At, Typed);
    C.Lines().PutString(LineIndex, Line);
    C.SetCaretXY({Caret.CharPos + static_cast<int>(Typed.size()), Caret.LinePos});
    viewport()->update();
  });
}

void TCodeEdit::mousePressEvent(QMouseEvent* Event) {
  Guarded("mouse", [&] {
    if (Event->button() == Qt::LeftButton) {
      const TBufferCoord Pos = PixelsToBufferPos(Event->position().toPoint());
      FCore->SetCaretAndSelection(Pos, Pos, Pos);
      viewport()->update();
    }
  });
}

void TCodeEdit::mouseDoubleClickEvent(QMouseEvent* Event) {
  Guarded("double click", [&] {
    const QPoint Pos = Event->position().toPoint();
    if (Pos.x() < FCore->FGutterWidth + 2)
      return;
    if (!FCore->HasOption(eoNoSelection))
      FCore->SelectWordAround(FCore->CaretXY());
    viewport()->update();
  });
}

}  // namespace codeedit
