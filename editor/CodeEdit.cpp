#include "editor/CodeEdit.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>
#include <exception>
#include <iostream>

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
  resize(200, 150);
  EditorFontChanged();
}

TCodeEdit::~TCodeEdit() {
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
  FCore->ApplyGutterWidth(30);
  FCore->SetLeftChar(FCore->FLeftChar);
  FCore->FTextOffset = FCore->FGutterWidth + 2 - (FCore->FLeftChar - 1) * FCore->FCharWidth;
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
  if (DeltaRows != 0)
    viewport()->scroll(0, DeltaRows * C.FLineHeight);
  if (DeltaColumns != 0) {
    // The gutter stays where it is; only the text area moves sideways.
    const int Left = C.FGutterWidth + 2;
    viewport()->scroll(DeltaColumns * C.FCharWidth, 0,
                       QRect(Left, 0, std::max(0, viewport()->width() - Left), viewport()->height()));
  }
}

void TCodeEdit::InvalidateAll() { viewport()->update(); }

void TCodeEdit::InvalidateTextLines(int FirstLine, int LastLine) {
  TCodeEditCore& C = *FCore;
  const int Top = std::max(FirstLine, C.FTopLine);
  const int Bottom = std::min<long long>(LastLine, static_cast<long long>(C.FTopLine) + C.FLinesInWindow);
  if (Top > Bottom)
    return;
  viewport()->update(C.FGutterWidth, (Top - C.FTopLine) * C.FLineHeight, viewport()->width() - C.FGutterWidth,
                     (Bottom - Top + 1) * C.FLineHeight);
}

void TCodeEdit::InvalidateGutterLines(int FirstLine, int LastLine) {
  TCodeEditCore& C = *FCore;
  const int Top = std::max(FirstLine, C.FTopLine);
  const int Bottom = std::min<long long>(LastLine, static_cast<long long>(C.FTopLine) + C.FLinesInWindow);
  if (Top > Bottom)
    return;
  viewport()->update(0, (Top - C.FTopLine) * C.FLineHeight, C.FGutterWidth, (Bottom - Top + 1) * C.FLineHeight);
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
  const QRect Clip = Event->rect();
  // The background first, so that a failing line still leaves a clean area.
  Painter.fillRect(Clip, CodeColorToQColor(clWindow));
  TCodeEditCore& C = *FCore;
  Painter.fillRect(QRect(0, Clip.top(), C.FGutterWidth, Clip.height()), CodeColorToQColor(clBtnFace));
  Guarded("paint", [&] {
    const int First = C.FTopLine + Clip.top() / std::max(1, C.FLineHeight);
    const int Last = std::min(C.LineCount(), C.FTopLine + Clip.bottom() / std::max(1, C.FLineHeight));
    PaintLines(Painter, First, Last);
  });
}

void TCodeEdit::PaintLines(QPainter& Painter, int FirstLine, int LastLine) {
  TCodeEditCore& C = *FCore;
  TCodeCustomHighlighter* H = C.Highlighter();
  if (H != nullptr && FirstLine <= LastLine) {
    if (FirstLine <= 1)
      H->ResetRange();
    else
      H->SetRange(C.Lines().GetRange(FirstLine - 2));
  }
  for (int Line = FirstLine; Line <= LastLine; ++Line)
    PaintLine(Painter, Line, (Line - C.FTopLine) * C.FLineHeight);
  // The right edge, then the caret as a vertical bar.
  const int EdgeX = C.FTextOffset + C.RightEdge() * C.FCharWidth;
  if (C.RightEdge() > 0 && EdgeX > C.FGutterWidth) {
    Painter.setPen(CodeColorToQColor(C.RightEdgeColor()));
    Painter.drawLine(EdgeX, 0, EdgeX, viewport()->height());
  }
  if (hasFocus()) {
    const TDisplayCoord Caret = C.BufferToDisplayPos(C.CaretXY());
    const int X = C.FTextOffset + (Caret.Column - 1) * C.FCharWidth;
    const int Y = (Caret.Row - C.FTopLine) * C.FLineHeight;
    if (X >= C.FGutterWidth + 2)
      Painter.fillRect(X, Y, 2, C.FLineHeight, CodeColorToQColor(clWindowText));
  }
}

void TCodeEdit::PaintLine(QPainter& Painter, int Line, int Y) {
  TCodeEditCore& C = *FCore;
  const std::u16string Expanded = C.Lines().GetExpandedString(Line - 1);
  const std::u16string Display = C.InsertGlyphFillers(Expanded);
  const int X0 = C.FTextOffset;
  Painter.save();
  // A failing highlighter must not leave the painter's state behind.
  struct RestoreOnExit {
    QPainter& P;
    ~RestoreOnExit() { P.restore(); }
  } Restore{Painter};
  Painter.setClipRect(QRect(C.FGutterWidth, Y, viewport()->width() - C.FGutterWidth, C.FLineHeight));
  TCodeCustomHighlighter* H = C.Highlighter();
  if (H == nullptr) {
    FTextDrawer->SetStyle(0);
    FTextDrawer->DrawRun(Painter, X0, Y, Display, CodeColorToQColor(clWindowText));
  } else {
    // The highlighter scans the tab-expanded line and keeps the token
    // positions in display cells, fillers included.
    H->SetLineWithColumns(Expanded, Display, Line - 1);
    while (!H->AtLineEnd()) {
      const std::u16string Token = H->GetColumnToken();
      const int Start = H->GetColumnTokenPos();
      TCodeHighlighterAttributes* Attr = H->CurrentTokenAttribute();
      TColor Fg = Attr != nullptr && Attr->Foreground() != clNone ? Attr->Foreground() : clWindowText;
      FTextDrawer->SetStyle(Attr != nullptr ? Attr->Style() : 0);
      FTextDrawer->DrawRun(Painter, X0 + Start * C.FCharWidth, Y, Token, CodeColorToQColor(Fg));
      H->ScanNextToken();
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
