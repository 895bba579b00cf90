#pragma once

// The text editor control. The model (lines, caret, marks, notifications)
// lives in TCodeEditCore; this scroll area is its screen: it measures the
// font through its text drawer, paints the gutter strip and the visible
// lines into an opaque viewport and turns Qt events into model calls.

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QFont>
#include <QMimeData>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

#include "editor/CodeEditCore.h"
#include "editor/CodeEditLines.h"
#include "editor/CodeTextDrawer.h"

namespace codeedit {

class TCodeInternalImage;

enum TBorderStyle : std::uint8_t { bsNone = 0, bsSingle = 1 };
enum TScrollHintFormat : std::uint8_t { shfTopLineOnly = 0, shfTopToBottom = 1 };

class TCodeEdit;

// What a drag of an editor's selection carries: the text and the private
// block as any copy does, and the editor it comes from, which a drop reads
// to take the text away when it moves.
class TCodeEditDragData : public QMimeData {
  Q_OBJECT

public:
  QPointer<TCodeEdit> Source;
};

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

  // --- input ----------------------------------------------------------------------
  // A Qt key as the key map reads it: a virtual-key code and the shift bits.
  // Keypad digits count as keypad keys only with the keypad modifier. False
  // for a key without a virtual-key code.
  static bool TranslateQtKey(int Key, Qt::KeyboardModifiers Modifiers, std::uint16_t& VirtualKey,
                             TShiftState& Shift);
  static TShiftState ShiftStateOf(Qt::KeyboardModifiers Modifiers);
  // Without WantTabs Tab moves the focus on; without WantReturns Return and
  // Escape go to the window (a dialog's default and cancel buttons).
  bool WantTabs() const { return FWantTabs; }
  void SetWantTabs(bool Value) { FWantTabs = Value; }
  bool WantReturns() const { return FWantReturns; }
  void SetWantReturns(bool Value) { FWantReturns = Value; }
  TScrollHintFormat ScrollHintFormat() const { return FScrollHintFormat; }
  void SetScrollHintFormat(TScrollHintFormat Value) { FScrollHintFormat = Value; }
  // The text the scroll hint shows while the vertical thumb is dragged.
  QString ScrollHintText() const;
  // Mark is the mark under the click, or nullptr.
  std::function<void(TCodeEdit& Sender, Qt::MouseButton Button, int X, int Y, int Line, TCodeEditMark* Mark)>
      OnGutterClick;
  std::function<void(TCodeEdit& Sender, Qt::Orientation ScrollBar)> OnScroll;
  std::function<void(TCodeEdit& Sender, const TBufferCoord& Pos, Qt::CursorShape& Cursor)> OnMouseCursor;
  virtual void DoGutterClick(Qt::MouseButton Button, int X, int Y);
  // The mouse cursor for a point of the viewport.
  void UpdateMouseCursor(QPoint Pos);
  bool AutoScrolling() const { return FAutoScrollTimer->isActive(); }
  int ScrollDeltaX() const { return FScrollDeltaX; }
  int ScrollDeltaY() const { return FScrollDeltaY; }

  // --- drag and drop (filled by the editing unit) -------------------------------------
  // A left click inside the selection moved by the drag distance.
  std::function<void(TCodeEdit& Sender)> OnStartDrag;
  void StartTextDrag();

  // After each paint, with the viewport's painter.
  std::function<void(TCodeEdit& Sender, QPainter& Canvas)> OnPaint;

  // The number of exceptions an event handler caught and reported.
  int CaughtExceptions() const { return FCaughtExceptions; }

  // --- clipboard, undo and drops ---------------------------------------------------
  // Files dropped while eoDropFiles is set: the drop point in viewport
  // pixels and the local paths.
  std::function<void(TCodeEdit& Sender, int X, int Y, TUnicodeStrings& Files)> OnDropFiles;

public slots:
  void undo();
  void redo();
  void cut();
  void paste();
  // Removes the selection as one undo step; nothing when read-only.
  void clear();

protected:
  void dragEnterEvent(QDragEnterEvent* Event) override;
  void dragMoveEvent(QDragMoveEvent* Event) override;
  void dragLeaveEvent(QDragLeaveEvent* Event) override;
  void dropEvent(QDropEvent* Event) override;

  void paintEvent(QPaintEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void keyReleaseEvent(QKeyEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void wheelEvent(QWheelEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void inputMethodEvent(QInputMethodEvent* Event) override;
  bool focusNextPrevChild(bool Next) override;
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

  // --- input ----------------------------------------------------------------------
  void ScrollBarAction(Qt::Orientation Bar, int Action);
  void ShowScrollHint();
  void AutoScrollFromPoint(QPoint Pos);
  void AutoScrollTick();
  bool FWantTabs = false;
  bool FWantReturns = true;
  TScrollHintFormat FScrollHintFormat = shfTopLineOnly;
  QTimer* FAutoScrollTimer = nullptr;
  int FScrollDeltaX = 0;
  int FScrollDeltaY = 0;
  int FMouseWheelAccumulator = 0;
  QPoint FMouseDownPos;
  QPoint FLastMousePos;
  bool FMouseCaptured = false;
  bool FWaitForDragging = false;
  bool FDoubleClicked = false;
  bool FGutterClicked = false;
  bool FGutterDragMoved = false;

  std::unique_ptr<TCodeEditCore> FCore;
  std::unique_ptr<TheTextDrawer> FTextDrawer;
  TBorderStyle FBorderStyle = bsSingle;
  int FExtraLineSpacing = 0;
  int FCaughtExceptions = 0;
  // Set while the scroll bars take the model's numbers: their signals then
  // only echo what the model already holds.
  bool FUpdatingScrollBars = false;

  // --- clipboard, undo and drops ---------------------------------------------------
  // The editor a drag of text comes from; nullptr for other drags.
  static TCodeEdit* DragSource(const QDropEvent* Event);
  bool AcceptsDrag(const QDropEvent* Event) const;
  // A drag of this editor's own text is over it.
  bool FOwnDragInside = false;
  // The caret blinks at half the platform's flash time; FCaretRect is where
  // it was last painted.
  QBasicTimer FCaretTimer;
  bool FCaretBlinkOn = true;
  QRect FCaretRect;
  QMetaObject::Connection FFocusConnection;
  std::unique_ptr<TCodeInternalImage> FInternalImages;
};

}  // namespace codeedit
