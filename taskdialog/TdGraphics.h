#pragma once

// Mark-up captions: the dialogs' texts with bold, underlined, italic and link
// runs, line breaks and word wrapping at a width; measuring the height a text
// needs, drawing it, and the caption control that shows one and opens its
// links.
//
// Three layers: TdParseCaption turns mark-up into runs; TdLayoutCaption
// places them through a TTdTextMetrics (plain arithmetic, no painting); the
// drawing routines and TTdCaptionControl paint what the layout placed.
//
// Mark-up: "<b>…</b>", "<u>…</u>", "<i>…</i>" and
// '<a href="URL">text</a>', tags in any case, not nested (tags inside a run
// stay literal text); CR LF breaks a line.
//
// Layout choices:
// - A run that no longer fits after other text on the line moves whole to
//   the next line, directly below: no empty line is left above it.
// - A run that ends close to the right edge does not add height; the next
//   run starts on the same line when it fits there.
// - Every link keeps its own text and URL; its rectangles open that URL.
// - A run with CR LF inside a tag pair breaks its line there, as plain text
//   does.

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

#include "taskdialog/TdTypes.h"
#include "taskdialog/TdUnicode.h"

class QPainter;

enum class TTdRunStyle { Plain, Bold, Underline, Italic, Link, NewLine };

struct TTdLinkInfo {
  QString Text;
  QString Url;
  bool operator==(const TTdLinkInfo&) const = default;
};

struct TTdRun {
  TTdRunStyle Style = TTdRunStyle::Plain;
  QString Text;
  int Link = -1;  // index into TTdParsedCaption::Links for a link run
  // The run as marker and text: "<BOLD>word", "<LINK>site", "<NEWLINE>".
  QString marked() const;
};

struct TTdParsedCaption {
  std::vector<TTdRun> Runs;
  std::vector<TTdLinkInfo> Links;
};

TTdParsedCaption TdParseCaption(QStringView Text);

// The fonts and colours a caption is drawn with.
struct TTdCaptionFonts {
  QFont Normal;
  QColor NormalColor = Qt::black;
  QFont Link;
  QColor LinkColor;
};
// The link font of a normal font: the same font, blue and underlined.
TTdCaptionFonts TdCaptionFonts(const QFont& Normal, const QColor& NormalColor = Qt::black);

struct TTdCaptionGeometry {
  int Width = 0;
  int Height = -1;  // -1: as high as the text needs
  int OffsetX = 0;  // where the first line starts
  int OffsetY = 0;
  bool TreatAsLink = false;
};

// One piece of text at its place; Rect is its extent from the pen position.
struct TTdPlacedText {
  QString Text;
  TTdRunStyle Style = TTdRunStyle::Plain;
  int Link = -1;
  QRect Rect;
};

struct TTdLinkRect {
  QRect Rect;
  int Link = -1;
};

struct TTdCaptionLayout {
  std::vector<TTdPlacedText> Pieces;
  std::vector<TTdLinkRect> LinkRects;
  int Height = 0;  // the height the text needs
  // The link whose rectangle holds Point; -1 for none.
  int linkAt(QPoint Point) const;
};

TTdCaptionLayout TdLayoutCaption(const TTdParsedCaption& Caption, const TTdCaptionGeometry& Geometry,
                                 const TTdCaptionFonts& Fonts, const TTdTextMetrics& Metrics);

// The height in pixels that Text needs at Width; 0 for an empty text.
int MeasureCaptionHeight(QStringView Text, int Width, const QFont& Font,
                         const TTdTextMetrics& Metrics = TdScreenMetrics());

// Paints a laid-out caption: the background over Bounds, then the pieces.
void TdPaintCaption(QPainter& Painter, const TTdCaptionLayout& Layout, const TTdCaptionFonts& Fonts,
                    const TTdBackground* Background, const QRect& Bounds);

// Lays out and draws Text in Bounds, the first line starting at Offset
// within it.
TTdCaptionLayout DrawCaption(QPainter& Painter, QStringView Text, QPoint Offset, const QRect& Bounds,
                             const QFont& Font, const TTdBackground* Background);
TTdCaptionLayout DrawCaptionRect(QPainter& Painter, QStringView Text, const QRect& Rect, const QFont& Font,
                                 const TTdBackground* Background);

// Where clicked links go. Only http, https and mailto addresses are ever
// handed on: dialog texts carry data (a key's name), so mark-up inside it
// must not reach files or programs.
class TTdLinkOpener {
 public:
  virtual ~TTdLinkOpener() = default;
  virtual void openUrl(const QString& Url) = 0;
};
// Makes Opener the one links go to (nullptr: the desktop's); returns the
// previous one.
TTdLinkOpener* SetTdLinkOpener(TTdLinkOpener* Opener);
bool TdIsOpenableUrl(const QString& Url);
// Opens Url through the current opener when it may be opened; false when not.
bool TdOpenLink(const QString& Url);

// Shows a mark-up text, sizes its height to it and opens a clicked link.
class TTdCaptionControl : public QWidget {
  Q_OBJECT
 public:
  explicit TTdCaptionControl(QWidget* Parent = nullptr);

  QStringList text() const { return FText; }
  void setText(const QStringList& Text);
  QFont linkFont() const { return FLinkFont; }
  void setLinkFont(const QFont& Font);
  QPoint offSet() const { return FOffSet; }
  void setOffSet(QPoint OffSet);
  bool autoSize() const { return FAutoSize; }
  void setAutoSize(bool AutoSize);
  bool treatAsLink() const { return FTreatAsLink; }
  void setTreatAsLink(bool TreatAsLink);

  // The layout of the last paint or adjustment, in the control's pixels.
  const TTdCaptionLayout& captionLayout() const { return FLayout; }

  // A clicked link's URL; setting Handled keeps it from being opened.
  std::function<void(TTdCaptionControl* Sender, const QString& Url, bool& Handled)> OnLinkClick;

  virtual void AdjustHeight();

 signals:
  void clicked();

 protected:
  virtual void DoLinkClick(const QString& Url);

  void paintEvent(QPaintEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;

 private:
  TTdCaptionFonts fonts() const;
  void relayout();

  QStringList FText;
  TTdParsedCaption FParsed;
  TTdCaptionLayout FLayout;
  QFont FLinkFont;
  QPoint FOffSet;
  bool FAutoSize = true;
  bool FTreatAsLink = false;
  bool FAdjusting = false;
};
