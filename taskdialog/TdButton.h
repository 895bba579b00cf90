#pragma once

// The command link: a large caption line, note lines below it, an arrow (or
// a shield when elevation is required) on the left and an optional picture,
// drawn flat with rounded corners (jsbNative) or as a push button
// (jsbClassic).
//
// It is a QPushButton so that the dialog's Enter, Esc, default and cancel
// handling treat it as any other button; everything it shows is drawn here.
// Geometry goes through a TTdTextMetrics, so tests size it with fixed
// numbers.

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPushButton>
#include <QRect>
#include <QString>
#include <QStringList>

#include "taskdialog/TdUnicode.h"

enum TTdButtonStyle { jsbNative, jsbClassic };

// The parts GetPartRect answers for.
enum TTdButtonPart { bpBackground = 0, bpFocus = 1, bpGlyph = 2, bpCaption = 3, bpNote = 4, bpPicture = 5 };

// The arrow's states, and its pictures (drawn in code, 20 × 20).
enum class TTdArrowState { Cold, Hot, Down, Disabled };
QPixmap TdCommandLinkArrow(TTdArrowState State);

class TTdCustomCommandLinkButton : public QPushButton {
  Q_OBJECT
 public:
  explicit TTdCustomCommandLinkButton(QWidget* Parent = nullptr);

  // The caption with "&" marking its access key.
  QString caption() const;
  void setCaption(const QString& Caption);
  QStringList info() const { return FInfo; }
  void setInfo(const QStringList& Info);
  QFont captionFont() const { return FCaptionFont; }
  void setCaptionFont(const QFont& Font);
  QFont infoFont() const { return FInfoFont; }
  void setInfoFont(const QFont& Font);
  bool autoSize() const { return FAutoSize; }
  void setAutoSize(bool AutoSize);
  bool showIcon() const { return FShowIcon; }
  void setShowIcon(bool ShowIcon);
  // A picture of its own in the arrow's place; empty draws the arrow.
  QPixmap glyph() const { return FGlyph; }
  void setGlyph(const QPixmap& Glyph);
  QPixmap picture() const { return FPicture; }
  void setPicture(const QPixmap& Picture);
  bool elevationRequired() const { return FElevationRequired; }
  // True puts the small shield into Glyph; False clears Glyph.
  void setElevationRequired(bool Required);
  TTdButtonStyle buttonStyle() const { return FStyle; }
  void setButtonStyle(TTdButtonStyle Style);
  QColor color() const { return FColor; }
  void setColor(const QColor& Color);
  int defaultHeight() const { return FDefaultHeight; }
  // Kept; the size does not depend on it.
  void setDefaultHeight(int Height);
  int modalResult() const { return FModalResult; }
  void setModalResult(int Result) { FModalResult = Result; }
  // Esc presses a button that has the cancel flag.
  bool cancel() const { return FCancel; }
  void setCancel(bool Cancel) { FCancel = Cancel; }
  bool showKeyboardCues() const { return FShowCues; }
  // Underlines the access key; off, ampersands are not drawn at all.
  void setShowKeyboardCues(bool Show);

  // The metrics AdjustBounds and the part rectangles measure with.
  void setMetrics(const TTdTextMetrics* Metrics);
  const TTdTextMetrics& metrics() const { return *FMetrics; }

  QSize glyphSize() const;
  // How far the note is indented from the left edge.
  int NoteIndent() const;
  virtual QRect GetPartRect(int Part) const;
  // The note lines as one trimmed text.
  virtual QString GetNoteText() const;
  // Sets the height (and with AutoSize the width) the caption and note
  // need; the left and top stay.
  void AdjustBounds();
  // The width AutoSize would give.
  int preferredWidth() const;

  // The caption as it is drawn: the text and Qt's text flags.
  struct TCaptionDrawing {
    QString Text;
    int Flags = 0;
  };
  TCaptionDrawing captionDrawing() const;
  bool hot() const { return FHot; }
  bool pressed() const { return FPressed; }

 protected:
  virtual void DrawBackground(QPainter& Canvas, const QRect& Rect);
  virtual void DrawCaptionText(QPainter& Canvas, const QRect& Rect);
  virtual void DrawFrame(QPainter& Canvas, const QRect& Rect);
  virtual void DrawFocus(QPainter& Canvas, const QRect& Rect);
  virtual void DrawGlyph(QPainter& Canvas, const QRect& Rect);
  virtual void DrawNote(QPainter& Canvas, const QRect& Rect);
  virtual void DrawPicture(QPainter& Canvas, const QRect& Rect);
  virtual void UpdateRegion();

  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void keyReleaseEvent(QKeyEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;

 private:
  QColor textColor() const;
  // Whether this button is the active control's command link or another
  // window's control is active.
  bool otherNonLinkActive() const;

  QStringList FInfo;
  QFont FCaptionFont;
  QFont FInfoFont;
  QPixmap FGlyph;
  QPixmap FPicture;
  QColor FColor;
  const TTdTextMetrics* FMetrics;
  int FDefaultHeight = -1;
  int FModalResult = 0;
  TTdButtonStyle FStyle = jsbNative;
  bool FAutoSize = false;
  bool FShowIcon = true;
  bool FElevationRequired = false;
  bool FCancel = false;
  bool FShowCues = false;
  bool FHot = false;
  bool FPressed = false;
  bool FEnterDown = false;
  bool FSpaceDown = false;
};

class TTdCommandLinkButton : public TTdCustomCommandLinkButton {
  Q_OBJECT
 public:
  using TTdCustomCommandLinkButton::TTdCustomCommandLinkButton;
};
