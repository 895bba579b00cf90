#include "editor/CodeEdit.h"

#include "editor/CodeClipboardText.h"

#include <QApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QInputMethod>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleHints>
#include <QTimerEvent>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <exception>
#include <iostream>

#include "editor/CodeEditGlyphs.h"
#include "editor/CodeEditMiscProcs.h"
#include "editor/CodeUnicode.h"

namespace codeedit {

TCodeEdit::TCodeEdit(QWidget* Parent)
    : QAbstractScrollArea(Parent), FCore(std::make_unique<TCodeEditCore>(this)) {
  QFont Initial(QStringLiteral("Courier New"), 10);
  Initial = FixedPitchFont(Initial);
  QAbstractScrollArea::setFont(Initial);
  FTextDrawer = std::make_unique<TheTextDrawer>(fsBold, Initial);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  // Text dragged from an editor and, with eoDropFiles, files (checked per drag).
  viewport()->setAcceptDrops(true);
  viewport()->setCursor(Qt::IBeamCursor);
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  SetBorderStyle(bsSingle);
  setAttribute(Qt::WA_InputMethodEnabled);
  resize(200, 150);
  viewport()->setMouseTracking(true);
  setAttribute(Qt::WA_InputMethodEnabled);
  FAutoScrollTimer = new QTimer(this);
  FAutoScrollTimer->setInterval(100);
  connect(FAutoScrollTimer, &QTimer::timeout, this, [this] { AutoScrollTick(); });
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
          [this](int Action) { ScrollBarAction(Qt::Vertical, Action); });
  connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this,
          [this](int Action) { ScrollBarAction(Qt::Horizontal, Action); });
  connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, [] { QToolTip::hideText(); });
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

namespace {

// What the user sees: a font is fixed-pitch when a narrow, a wide and a digit
// glyph advance equally. Fontconfig's spacing flag is not enough: some
// monospaced families (Noto Sans Mono among them) lack it, and a family that
// is not installed comes back as whatever the system substitutes.
bool MeasuresFixedPitch(const QFont& Font) {
  const QFontMetricsF Metrics(Font);
  const qreal Narrow = Metrics.horizontalAdvance(QLatin1Char('i'));
  const qreal Wide = Metrics.horizontalAdvance(QLatin1Char('W'));
  const qreal Digit = Metrics.horizontalAdvance(QLatin1Char('0'));
  constexpr qreal Tolerance = 1.0 / 64;
  return Narrow > 0 && std::abs(Narrow - Wide) < Tolerance && std::abs(Narrow - Digit) < Tolerance;
}

}  // namespace

QFont TCodeEdit::FixedPitchFont(const QFont& Value) {
  if (MeasuresFixedPitch(Value))
    return Value;
  // A size in pixels stays one: 13 pixels must not become 10 points.
  const auto WithStyleOf = [&Value](QFont Font) {
    if (Value.pixelSize() > 0)
      Font.setPixelSize(Value.pixelSize());
    else
      Font.setPointSize(Value.pointSize() > 0 ? Value.pointSize() : 10);
    Font.setBold(Value.bold());
    Font.setItalic(Value.italic());
    Font.setUnderline(Value.underline());
    Font.setStrikeOut(Value.strikeOut());
    return Font;
  };
  QFont Fixed = WithStyleOf(QFont(Value.family()));
  Fixed.setFixedPitch(true);
  Fixed.setStyleHint(QFont::TypeWriter);
  if (MeasuresFixedPitch(Fixed))
    return Fixed;
  const QFont System = WithStyleOf(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  if (MeasuresFixedPitch(System))
    return System;
  // The system's choice is not fixed-pitch either: the first installed
  // family that measures so, those fontconfig marks fixed-pitch first.
  const QStringList Families = QFontDatabase::families(QFontDatabase::Latin);
  for (const bool Marked : {true, false})
    for (const QString& Family : Families) {
      if (QFontDatabase::isFixedPitch(Family) != Marked || QFontDatabase::isPrivateFamily(Family))
        continue;
      const QFont Candidate = WithStyleOf(QFont(Family));
      if (MeasuresFixedPitch(Candidate))
        return Candidate;
    }
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
  TCodePainterDrawer Drawer(Painter, *FTextDrawer, Colours, [this]() -> const TCodeInternalImage& {
    if (!FInternalImages)
      FInternalImages = std::make_unique<TCodeInternalImage>(QStringLiteral("CodeEditInternalImages"), 10);
    return *FInternalImages;
  });
  // The model's painting covers the whole region, so nothing is filled
  // first; a paint that fails leaves a clean background instead.
  for (const QRect& R : Event->region()) {
    bool Painted = false;
    Guarded("paint", [&] {
      Painter.save();
      struct RestoreOnExit {
        QPainter& P;
        ~RestoreOnExit() { P.restore(); }
      } Restore{Painter};
      Painter.setClipRect(R);
      C.Paint(Drawer, {R.left(), R.top(), R.right() + 1, R.bottom() + 1});
      Painted = true;
    });
    if (!Painted)
      Painter.fillRect(R, CodeColorToQColor(C.EditorBackground(false), Colours));
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

// --- input ------------------------------------------------------------------------

namespace {

struct TKeyEntry {
  int QtKey;
  std::uint16_t VirtualKey;
};

// Keys whose virtual-key code differs from the Qt key's number. Letters and
// the digit row are the same in both (A..Z, 0..9).
constexpr TKeyEntry kKeyTable[] = {
    {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09}, {Qt::Key_Backtab, 0x09}, {Qt::Key_Clear, 0x0C},
    {Qt::Key_Return, 0x0D}, {Qt::Key_Enter, 0x0D}, {Qt::Key_Shift, 0x10}, {Qt::Key_Control, 0x11},
    {Qt::Key_Alt, 0x12}, {Qt::Key_AltGr, 0x12}, {Qt::Key_Pause, 0x13}, {Qt::Key_CapsLock, 0x14},
    {Qt::Key_Escape, 0x1B}, {Qt::Key_Space, 0x20}, {Qt::Key_PageUp, 0x21}, {Qt::Key_PageDown, 0x22},
    {Qt::Key_End, 0x23}, {Qt::Key_Home, 0x24}, {Qt::Key_Left, 0x25}, {Qt::Key_Up, 0x26},
    {Qt::Key_Right, 0x27}, {Qt::Key_Down, 0x28}, {Qt::Key_Select, 0x29}, {Qt::Key_Print, 0x2A},
    {Qt::Key_Execute, 0x2B}, {Qt::Key_SysReq, 0x2C}, {Qt::Key_Insert, 0x2D}, {Qt::Key_Delete, 0x2E},
    {Qt::Key_Help, 0x2F}, {Qt::Key_Meta, 0x5B}, {Qt::Key_Menu, 0x5D}, {Qt::Key_Sleep, 0x5F},
    {Qt::Key_NumLock, 0x90}, {Qt::Key_ScrollLock, 0x91}, {Qt::Key_Semicolon, 0xBA}, {Qt::Key_Colon, 0xBA},
    {Qt::Key_Equal, 0xBB}, {Qt::Key_Plus, 0xBB}, {Qt::Key_Comma, 0xBC}, {Qt::Key_Less, 0xBC},
    {Qt::Key_Minus, 0xBD}, {Qt::Key_Underscore, 0xBD}, {Qt::Key_Period, 0xBE}, {Qt::Key_Greater, 0xBE},
    {Qt::Key_Slash, 0xBF}, {Qt::Key_Question, 0xBF}, {Qt::Key_QuoteLeft, 0xC0}, {Qt::Key_AsciiTilde, 0xC0},
    {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_BraceLeft, 0xDB}, {Qt::Key_Backslash, 0xDC}, {Qt::Key_Bar, 0xDC},
    {Qt::Key_BracketRight, 0xDD}, {Qt::Key_BraceRight, 0xDD}, {Qt::Key_Apostrophe, 0xDE},
    {Qt::Key_QuoteDbl, 0xDE},
    // With Shift held the digit row reports its symbols (a US layout's):
    // Ctrl+Shift+3 must still be the key 3.
    {Qt::Key_Exclam, '1'}, {Qt::Key_At, '2'}, {Qt::Key_NumberSign, '3'}, {Qt::Key_Dollar, '4'},
    {Qt::Key_Percent, '5'}, {Qt::Key_AsciiCircum, '6'}, {Qt::Key_Ampersand, '7'}, {Qt::Key_Asterisk, '8'},
    {Qt::Key_ParenLeft, '9'}, {Qt::Key_ParenRight, '0'},
};

// Keypad keys other than the digits, with the keypad modifier.
constexpr TKeyEntry kKeypadTable[] = {
    {Qt::Key_Asterisk, 0x6A}, {Qt::Key_Plus, 0x6B}, {Qt::Key_Minus, 0x6D},
    {Qt::Key_Period, 0x6E}, {Qt::Key_Comma, 0x6E}, {Qt::Key_Slash, 0x6F},
};

TMouseButton MouseButtonOf(Qt::MouseButton Button) {
  switch (Button) {
    case Qt::RightButton:
      return mbRight;
    case Qt::MiddleButton:
      return mbMiddle;
    default:
      return mbLeft;
  }
}

}  // namespace

TShiftState TCodeEdit::ShiftStateOf(Qt::KeyboardModifiers Modifiers) {
  TShiftState Shift = 0;
  if (Modifiers & Qt::ShiftModifier)
    Shift |= ssShift;
  if (Modifiers & Qt::ControlModifier)
    Shift |= ssCtrl;
  if (Modifiers & Qt::AltModifier)
    Shift |= ssAlt;
  return Shift;
}

bool TCodeEdit::TranslateQtKey(int Key, Qt::KeyboardModifiers Modifiers, std::uint16_t& VirtualKey,
                               TShiftState& Shift) {
  Shift = ShiftStateOf(Modifiers);
  if (Key == Qt::Key_Backtab)
    Shift |= ssShift;
  const bool Keypad = (Modifiers & Qt::KeypadModifier) != 0;
  if (Keypad && Key >= Qt::Key_0 && Key <= Qt::Key_9) {
    VirtualKey = static_cast<std::uint16_t>(0x60 + (Key - Qt::Key_0));
    return true;
  }
  if (Keypad)
    for (const TKeyEntry& Entry : kKeypadTable)
      if (Entry.QtKey == Key) {
        VirtualKey = Entry.VirtualKey;
        return true;
      }
  if ((Key >= Qt::Key_A && Key <= Qt::Key_Z) || (Key >= Qt::Key_0 && Key <= Qt::Key_9)) {
    VirtualKey = static_cast<std::uint16_t>(Key);
    return true;
  }
  if (Key >= Qt::Key_F1 && Key <= Qt::Key_F24) {
    VirtualKey = static_cast<std::uint16_t>(0x70 + (Key - Qt::Key_F1));
    return true;
  }
  for (const TKeyEntry& Entry : kKeyTable)
    if (Entry.QtKey == Key) {
      VirtualKey = Entry.VirtualKey;
      return true;
    }
  VirtualKey = 0;
  return false;
}

void TCodeEdit::keyPressEvent(QKeyEvent* Event) {
  // Without WantReturns the window gets Return and Escape (a dialog's
  // default and cancel buttons).
  const bool DialogKey =
      Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter || Event->key() == Qt::Key_Escape;
  if (DialogKey && !FWantReturns) {
    Event->ignore();
    return;
  }
  bool Used = false;
  Guarded("key", [&] {
    TCodeEditCore& C = *FCore;
    std::uint16_t Key = 0;
    TShiftState Shift = 0;
    TranslateQtKey(Event->key(), Event->modifiers(), Key, Shift);
    const bool Command = C.KeyDown(Key, Shift);
    const QString Text = Event->text();
    // Alt with a key types nothing (Ctrl+Alt is AltGr on some keyboards).
    const bool AltOnly = (Shift & (ssAlt | ssCtrl)) == ssAlt;
    if (Command) {
      // The character of a key that became a command is dropped.
      if (!Text.isEmpty())
        C.HandleCharMessage(Text.at(0).unicode());
      Used = true;
    } else if (!Text.isEmpty() && !AltOnly) {
      for (QChar Ch : Text)
        C.HandleCharMessage(Ch.unicode());
      Used = true;
    }
  });
  if (Used)
    Event->accept();
  else
    Event->ignore();
}

void TCodeEdit::keyReleaseEvent(QKeyEvent* Event) {
  Guarded("key up", [&] {
    std::uint16_t Key = 0;
    TShiftState Shift = 0;
    if (TranslateQtKey(Event->key(), Event->modifiers(), Key, Shift))
      FCore->KeyUp(Key, Shift);
  });
  QAbstractScrollArea::keyReleaseEvent(Event);
}

bool TCodeEdit::focusNextPrevChild(bool Next) {
  if (FWantTabs)
    return false;
  return QAbstractScrollArea::focusNextPrevChild(Next);
}

void TCodeEdit::inputMethodEvent(QInputMethodEvent* Event) {
  Guarded("input method", [&] {
    const QString Commit = Event->commitString();
    if (Commit.isEmpty())
      return;
    std::u16string Text(reinterpret_cast<const char16_t*>(Commit.utf16()), static_cast<std::size_t>(Commit.size()));
    FCore->ProcessCommand(ecImeStr, 0, Text.data());
  });
  Event->accept();
}

void TCodeEdit::focusInEvent(QFocusEvent* Event) {
  QAbstractScrollArea::focusInEvent(Event);
  Guarded("focus", [this] {
    FCore->ProcessCommand(ecFocusEnter, 0, nullptr);
    FCore->InitializeCaret();
    if (FCore->HideSelection() && FCore->SelAvail())
      FCore->InvalidateSelectionLines();
  });
}

void TCodeEdit::focusOutEvent(QFocusEvent* Event) {
  QAbstractScrollArea::focusOutEvent(Event);
  Guarded("focus", [this] {
    FCore->ProcessCommand(ecFocusExit, 0, nullptr);
    if (FCore->HideSelection() && FCore->SelAvail())
      FCore->InvalidateSelectionLines();
  });
}

void TCodeEdit::wheelEvent(QWheelEvent* Event) {
  const int Delta = Event->angleDelta().y();
  if (Delta == 0) {
    QAbstractScrollArea::wheelEvent(Event);
    return;
  }
  Guarded("wheel", [&] {
    TCodeEditCore& C = *FCore;
    int Rows = 3;
    if (Event->modifiers() & Qt::ControlModifier) {
      Rows = C.FLinesInWindow;
      if (C.HasOption(eoHalfPageScroll))
        Rows >>= 1;
    }
    // Small steps (high-resolution wheels, touch pads) add up to notches of
    // 120; the remainder waits for the next step.
    FMouseWheelAccumulator += Delta;
    const int Notches = FMouseWheelAccumulator / 120;
    FMouseWheelAccumulator %= 120;
    if (Notches != 0)
      C.SetTopLine(C.FTopLine - Notches * Rows);
    if (OnScroll)
      OnScroll(*this, Qt::Vertical);
  });
  Event->accept();
}

QString TCodeEdit::ScrollHintText() const {
  const TCodeEditCore& C = *FCore;
  const int Top = C.RowToLine(C.FTopLine);
  if (FScrollHintFormat == shfTopLineOnly)
    return QStringLiteral("Top Line: %1").arg(Top);
  const int Rows = std::min(C.FLinesInWindow, C.DisplayLineCount() - C.FTopLine);
  return QStringLiteral("%1 - %2").arg(Top).arg(C.RowToLine(C.FTopLine + Rows));
}

void TCodeEdit::ScrollBarAction(Qt::Orientation Bar, int Action) {
  Guarded("scroll bar", [&] {
    TCodeEditCore& C = *FCore;
    const bool Vertical = Bar == Qt::Vertical;
    QScrollBar* ScrollBar = Vertical ? verticalScrollBar() : horizontalScrollBar();
    const int Position = Vertical ? C.FTopLine : C.FLeftChar;
    const int Page = (Vertical ? C.FLinesInWindow : C.FCharsInWindow) - (C.HasOption(eoScrollByOneLess) ? 1 : 0);
    int Target = Position;
    switch (Action) {
      case QAbstractSlider::SliderSingleStepSub:
        Target = Position - 1;
        break;
      case QAbstractSlider::SliderSingleStepAdd:
        Target = Position + 1;
        break;
      case QAbstractSlider::SliderPageStepSub:
        Target = Position - Page;
        break;
      case QAbstractSlider::SliderPageStepAdd:
        Target = Position + Page;
        break;
      case QAbstractSlider::SliderToMinimum:
        Target = 1;
        break;
      case QAbstractSlider::SliderToMaximum:
        Target = Vertical                          ? C.DisplayLineCount()
                 : C.HasOption(eoScrollPastEol) ? C.MaxScrollWidth() - C.FCharsInWindow + 1
                                                : C.Lines().GetLongestLineLength();
        break;
      case QAbstractSlider::SliderMove:
        Target = ScrollBar->sliderPosition();
        break;
      default:
        return;
    }
    if (Vertical)
      C.SetTopLine(Target);
    else
      C.SetLeftChar(Target);
    if (Vertical && Action == QAbstractSlider::SliderMove && C.HasOption(eoShowScrollHint))
      ShowScrollHint();
    ScrollBar->setSliderPosition(Vertical ? C.FTopLine : C.FLeftChar);
    if (OnScroll)
      OnScroll(*this, Bar);
  });
}

void TCodeEdit::ShowScrollHint() {
  const QString Hint = ScrollHintText();
  const QRect Rect = fontMetrics().boundingRect(QRect(0, 0, 200, 1000), Qt::TextWordWrap, Hint);
  int Y = 10;
  if (FCore->HasOption(eoScrollHintFollows)) {
    // Beside the thumb: the arrow's height, then the thumb's share of the track.
    const QScrollBar* ScrollBar = verticalScrollBar();
    const int Arrow = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int Track = viewport()->height() - 2 * Arrow;
    const int Range = std::max(1, ScrollBar->maximum() - ScrollBar->minimum());
    Y = Arrow + qRound(static_cast<double>(Track) * (ScrollBar->sliderPosition() - ScrollBar->minimum()) / Range) +
        Rect.height() / 2;
  }
  const QPoint At(viewport()->width() - Rect.width() - 4, Y);
  QToolTip::showText(viewport()->mapToGlobal(At), Hint, this);
}

// --- mouse --------------------------------------------------------------------------

void TCodeEdit::mousePressEvent(QMouseEvent* Event) {
  Guarded("mouse", [&] {
    TCodeEditCore& C = *FCore;
    const QPoint Pos = Event->position().toPoint();
    const Qt::MouseButton Button = Event->button();
    const TShiftState Shift = ShiftStateOf(Event->modifiers());
    FLastMousePos = Pos;
    const TBufferCoord SavedBegin = C.BlockBegin();
    const TBufferCoord SavedEnd = C.BlockEnd();
    const bool LeftInSelection = Button == Qt::LeftButton && C.SelAvail();
    if (LeftInSelection)
      FMouseDownPos = Pos;
    C.KbdHandler().RunMouseDownHandlers(this, MouseButtonOf(Button), Shift, Pos.x(), Pos.y());
    const auto PosUnderPointer = [&] { return C.DisplayToBufferPos(C.PointToCell(Pos.x(), Pos.y())); };
    if (Button == Qt::LeftButton) {
      C.CaretFromPoint(Pos.x(), Pos.y());
    } else if (Button == Qt::RightButton) {
      // Without the option a right click is the context menu's alone.
      if (!C.HasOption(eoRightMouseMovesCursor))
        return;
      if (C.SelAvail() && C.IsInSelection(PosUnderPointer()))
        return;
      C.InvalidateSelectionLines();
      C.SetBlockEnd(C.BlockBegin());
      C.CaretFromPoint(Pos.x(), Pos.y());
    }
    if (Button == Qt::LeftButton) {
      // Placing the caret must not lose the selection a drag may take.
      C.SetCaretAndSelection(C.CaretXY(), SavedBegin, SavedEnd);
      FMouseCaptured = true;
      FWaitForDragging = false;
      const bool MayDrag = LeftInSelection && C.HasOption(eoDragDropEditing) && Pos.x() >= C.FGutterWidth + 2 &&
                           C.SelectionMode() == smNormal && C.IsInSelection(PosUnderPointer());
      if (MayDrag) {
        FWaitForDragging = true;
      } else if (!FDoubleClicked) {
        if (Shift & ssShift) {
          C.SetBlockEnd(C.CaretXY());
        } else {
          if (C.HasOption(eoAltSetsColumnMode) && C.ActiveSelectionMode() != smLine)
            C.SetSelectionMode((Shift & ssAlt) != 0 ? smColumn : smNormal);
          C.SetBlockBegin(C.CaretXY());
        }
      }
    }
    if (Pos.x() < C.FGutterWidth)
      FGutterClicked = true;
    if (FGutterClicked && Button == Qt::RightButton)
      DoGutterClick(Button, Pos.x(), Pos.y());
    setFocus(Qt::MouseFocusReason);
  });
  viewport()->update();
}

void TCodeEdit::mouseMoveEvent(QMouseEvent* Event) {
  Guarded("mouse move", [&] {
    TCodeEditCore& C = *FCore;
    const QPoint Pos = Event->position().toPoint();
    FLastMousePos = Pos;
    const bool LeftHeld = (Event->buttons() & Qt::LeftButton) != 0;
    if (FMouseCaptured && FWaitForDragging) {
      const int Distance = QApplication::startDragDistance();
      if (std::abs(Pos.x() - FMouseDownPos.x()) >= Distance || std::abs(Pos.y() - FMouseDownPos.y()) >= Distance) {
        FWaitForDragging = false;
        StartTextDrag();
      }
    } else if (LeftHeld && FMouseCaptured) {
      AutoScrollFromPoint(Pos);
      TDisplayCoord P = C.PointToNearestCell(Pos.x(), Pos.y());
      P.Row = MinMax(P.Row, 1, std::max(1, C.DisplayLineCount()));
      const TDisplayCoord Caret = C.BufferToDisplayPos(C.CaretXY());
      if (FScrollDeltaX != 0)
        P.Column = Caret.Column;
      if (FScrollDeltaY != 0)
        P.Row = Caret.Row;
      C.SetCaretXY(C.DisplayToBufferPos(P));
      C.SetBlockEnd(C.CaretXY());
      if (FGutterClicked && C.CaretXY().LinePos != C.BlockBegin().LinePos)
        FGutterDragMoved = true;
      viewport()->update();
    }
    UpdateMouseCursor(Pos);
  });
}

void TCodeEdit::mouseReleaseEvent(QMouseEvent* Event) {
  Guarded("mouse up", [&] {
    TCodeEditCore& C = *FCore;
    const QPoint Pos = Event->position().toPoint();
    const Qt::MouseButton Button = Event->button();
    const TShiftState Shift = ShiftStateOf(Event->modifiers());
    C.KbdHandler().RunMouseUpHandlers(this, MouseButtonOf(Button), Shift, Pos.x(), Pos.y());
    FAutoScrollTimer->stop();
    FMouseCaptured = false;
    if (FGutterClicked && Pos.x() < C.FGutterWidth && Button != Qt::RightButton) {
      DoGutterClick(Button, Pos.x(), Pos.y());
    } else if (FWaitForDragging && !FDoubleClicked) {
      // A click inside the selection that never became a drag: the caret
      // goes to the click and the selection collapses there.
      C.CaretFromPoint(Pos.x(), Pos.y());
      if (!(Shift & ssShift))
        C.SetBlockBegin(C.CaretXY());
      C.SetBlockEnd(C.CaretXY());
      FWaitForDragging = false;
    }
    FDoubleClicked = false;
    FGutterClicked = false;
    FGutterDragMoved = false;
  });
  viewport()->update();
}

void TCodeEdit::mouseDoubleClickEvent(QMouseEvent* Event) {
  Guarded("double click", [&] {
    const QPoint Pos = Event->position().toPoint();
    if (Event->button() != Qt::LeftButton || Pos.x() < FCore->FGutterWidth + 2)
      return;
    if (!FCore->HasOption(eoNoSelection))
      FCore->SelectWordAround(FCore->CaretXY());
    FDoubleClicked = true;
    FMouseCaptured = false;
    FWaitForDragging = false;
  });
  viewport()->update();
}

void TCodeEdit::DoGutterClick(Qt::MouseButton Button, int X, int Y) {
  if (!OnGutterClick)
    return;
  TCodeEditCore& C = *FCore;
  const int Line = C.DisplayToBufferPos(C.PointToCell(X, Y)).LinePos;
  if (Line > C.LineCount())
    return;
  TCodeEditMarks Marks{};
  C.Marks().GetLineMarks(Line, Marks);
  TCodeEditMark* Clicked = nullptr;
  int Offset = 0;
  for (TCodeEditMark* Mark : Marks) {
    if (Mark == nullptr)
      break;
    Offset += C.BookMarkOptions().Xoffset();
    if (X < Offset) {
      Clicked = Mark;
      break;
    }
  }
  OnGutterClick(*this, Button, X, Y, Line, Clicked);
}

void TCodeEdit::UpdateMouseCursor(QPoint Pos) {
  TCodeEditCore& C = *FCore;
  Qt::CursorShape Shape = Qt::IBeamCursor;
  if (Pos.x() < C.FGutterWidth) {
    Shape = Qt::ArrowCursor;
  } else {
    const TBufferCoord P = C.DisplayToBufferPos(C.PointToCell(Pos.x(), Pos.y()));
    if (C.HasOption(eoDragDropEditing) && !FMouseCaptured && C.IsInSelection(P))
      Shape = Qt::ArrowCursor;
    if (OnMouseCursor)
      OnMouseCursor(*this, P, Shape);
    int Cursor = static_cast<int>(Shape);
    C.KbdHandler().RunMouseCursorHandlers(this, P, Cursor);
    Shape = static_cast<Qt::CursorShape>(Cursor);
  }
  if (viewport()->cursor().shape() != Shape)
    viewport()->setCursor(Shape);
}

void TCodeEdit::AutoScrollFromPoint(QPoint Pos) {
  TCodeEditCore& C = *FCore;
  if (!FMouseCaptured) {
    FAutoScrollTimer->stop();
    return;
  }
  QRect Text(C.FGutterWidth, 0, C.FCharsInWindow * C.FCharWidth, C.FLinesInWindow * C.FLineHeight);
  if (FBorderStyle == bsNone)
    Text.adjust(2, 2, -2, -2);
  const int CharWidth = std::max(1, C.FCharWidth);
  const int LineHeight = std::max(1, C.FLineHeight);
  const int Right = Text.left() + Text.width();
  const int Bottom = Text.top() + Text.height();
  FScrollDeltaX = Pos.x() < Text.left()  ? (Pos.x() - Text.left()) / CharWidth - 1
                  : Pos.x() >= Right     ? (Pos.x() - Right) / CharWidth + 1
                                         : 0;
  FScrollDeltaY = Pos.y() < Text.top()   ? (Pos.y() - Text.top()) / LineHeight - 1
                  : Pos.y() >= Bottom    ? (Pos.y() - Bottom) / LineHeight + 1
                                         : 0;
  if (FScrollDeltaX != 0 || FScrollDeltaY != 0) {
    if (!FAutoScrollTimer->isActive())
      FAutoScrollTimer->start();
  } else {
    FAutoScrollTimer->stop();
  }
}

void TCodeEdit::AutoScrollTick() {
  Guarded("auto-scroll", [this] {
    TCodeEditCore& C = *FCore;
    TDisplayCoord P = C.PointToCell(FLastMousePos.x(), FLastMousePos.y());
    P.Row = MinMax(P.Row, 1, std::max(1, C.DisplayLineCount()));
    if (FScrollDeltaX != 0) {
      C.SetLeftChar(C.FLeftChar + FScrollDeltaX);
      P.Column = C.FLeftChar + (FScrollDeltaX > 0 ? C.FCharsInWindow : 0);
    }
    if (FScrollDeltaY != 0) {
      const bool Page = (QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier) != 0;
      C.SetTopLine(C.FTopLine + FScrollDeltaY * (Page ? C.FLinesInWindow : 1));
      P.Row = C.FTopLine + (FScrollDeltaY > 0 ? C.FLinesInWindow - 1 : 0);
      P.Row = MinMax(P.Row, 1, std::max(1, C.DisplayLineCount()));
    }
    const TBufferCoord Target = C.DisplayToBufferPos(P);
    if (!(Target == C.CaretXY())) {
      C.BeginPaintLock();
      C.SetCaretXY(Target);
      if (FMouseCaptured)
        C.SetBlockEnd(C.CaretXY());
      C.EndPaintLock();
    }
    AutoScrollFromPoint(FLastMousePos);
  });
}

// --- clipboard, undo and drops ---------------------------------------------------

void TCodeEdit::undo() {
  Guarded("undo", [this] { FCore->Undo(); });
}

void TCodeEdit::redo() {
  Guarded("redo", [this] { FCore->Redo(); });
}

void TCodeEdit::cut() {
  Guarded("cut", [this] { FCore->CutToClipboard(); });
}

void TCodeEdit::paste() {
  Guarded("paste", [this] { FCore->PasteFromClipboard(); });
}

void TCodeEdit::clear() {
  Guarded("clear", [this] {
    if (FCore->ReadOnly())
      return;
    FCore->SetSelText(u"");
  });
}

// Text dragged from an editor (this one or another), or files while
// eoDropFiles is set; a read-only editor takes nothing.
TCodeEdit* TCodeEdit::DragSource(const QDropEvent* Event) {
  const auto* Data = qobject_cast<const TCodeEditDragData*>(Event->mimeData());
  return Data != nullptr ? Data->Source.data() : nullptr;
}

bool TCodeEdit::AcceptsDrag(const QDropEvent* Event) const {
  if (FCore->ReadOnly())
    return false;
  if (DragSource(Event) != nullptr)
    return true;
  return FCore->HasOption(eoDropFiles) && Event->mimeData() != nullptr && Event->mimeData()->hasUrls();
}

void TCodeEdit::dragEnterEvent(QDragEnterEvent* Event) {
  Guarded("drag enter", [&] {
    if (!AcceptsDrag(Event)) {
      Event->ignore();
      return;
    }
    if (DragSource(Event) == this)
      FOwnDragInside = true;
    dragMoveEvent(Event);
  });
}

void TCodeEdit::dragMoveEvent(QDragMoveEvent* Event) {
  Guarded("drag move", [&] {
    if (!AcceptsDrag(Event)) {
      Event->ignore();
      return;
    }
    const bool Copy = (Event->modifiers() & Qt::ControlModifier) != 0;
    TCodeEdit* Source = DragSource(Event);
    Event->setDropAction(Copy || Source == nullptr ? Qt::CopyAction : Qt::MoveAction);
    Event->accept();
    if (Source == nullptr)
      return;
    // The caret follows the mouse; over its own text, within the lines and
    // columns on screen, and the text scrolls when the mouse leaves them.
    TCodeEditCore& C = *FCore;
    const QPoint Point = Event->position().toPoint();
    if (Source != this) {
      C.CaretFromPoint(Point.x(), Point.y());
    } else {
      TDisplayCoord D = C.BufferToDisplayPos(PixelsToBufferPos(Point));
      D.Column = std::clamp(D.Column, C.FLeftChar, std::max(C.FLeftChar, C.FLeftChar + C.FCharsInWindow - 1));
      D.Row = std::clamp(D.Row, C.FTopLine, std::max(C.FTopLine, C.FTopLine + C.FLinesInWindow - 1));
      C.SetCaretXY(C.DisplayToBufferPos(D));
      AutoScrollFromPoint(Point);
    }
    viewport()->update();
  });
}

void TCodeEdit::dragLeaveEvent(QDragLeaveEvent* Event) {
  Guarded("drag leave", [&] {
    // Its own text left the editor: the caret goes back where the drag began.
    if (FOwnDragInside) {
      FCore->CaretFromPoint(FMouseDownPos.x(), FMouseDownPos.y());
      FOwnDragInside = false;
    }
    Event->accept();
  });
}

void TCodeEdit::dropEvent(QDropEvent* Event) {
  Guarded("drop", [&] {
    FOwnDragInside = false;
    if (!AcceptsDrag(Event)) {
      Event->ignore();
      return;
    }
    const QPoint Point = Event->position().toPoint();
    TCodeEdit* Source = DragSource(Event);
    if (Source == nullptr) {
      if (!OnDropFiles)
        return;
      TUnicodeStringList Files;
      for (const QUrl& Url : Event->mimeData()->urls()) {
        if (!Url.isLocalFile())
          continue;
        const QString Path = Url.toLocalFile();
        Files.Add(std::u16string_view(reinterpret_cast<const char16_t*>(Path.utf16()),
                                      static_cast<std::size_t>(Path.size())));
      }
      Event->acceptProposedAction();
      OnDropFiles(*this, Point.x(), Point.y(), Files);
      return;
    }
    const bool Copy = (Event->modifiers() & Qt::ControlModifier) != 0;
    const bool Move = (Event->modifiers() & Qt::ShiftModifier) != 0;
    FAutoScrollTimer->stop();
    FCore->CaretFromPoint(Point.x(), Point.y());
    if (FCore->DropSelectionFrom(Source->Core(), FCore->CaretXY(), Copy, Move)) {
      Event->setDropAction(Source == this ? (Copy ? Qt::CopyAction : Qt::MoveAction)
                                          : (Move ? Qt::MoveAction : Qt::CopyAction));
      Event->accept();
      Source->viewport()->update();
    } else {
      Event->ignore();
    }
    viewport()->update();
  });
}

// A handler takes a drag over (tests watch it start); without one the
// selection goes out as a drag of its text and private block, and a drop in
// an editor (this one or another) does the moving.
void TCodeEdit::StartTextDrag() {
  if (OnStartDrag) {
    OnStartDrag(*this);
    return;
  }
  TCodeEditCore& C = *FCore;
  if (!C.SelAvail())
    return;
  const std::u16string Text = C.SelectedText();
  auto* Data = new TCodeEditDragData;
  Data->Source = this;
  Data->setText(QString::fromStdU16String(Text));
  const std::string Block = CodeEditClipboardBlock(Text, C.ActiveSelectionMode());
  Data->setData(QString::fromLatin1(CodeEditClipboardFormat), QByteArray(Block.data(), static_cast<qsizetype>(Block.size())));
  auto* Drag = new QDrag(this);
  Drag->setMimeData(Data);
  Drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
  // The drag took the mouse release: the press that started it is over, and
  // a cancelled drag stops scrolling.
  FMouseCaptured = false;
  FWaitForDragging = false;
  FAutoScrollTimer->stop();
}

}  // namespace codeedit
