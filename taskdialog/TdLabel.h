#pragma once

// The dialog's focusable labels: TTdCustomLabel draws a wide caption (its
// hotkey marked by "&") and clicks on its hotkey; TTdMoreLabel adds the
// chevron that shows or hides the dialog's details.

#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>

// Where the expand label's caption starts and how wide the label makes
// itself: the caption starts 2 pixels in and past the glyph and Spacing, and
// the glyph and Spacing are added once more on the right.
int TdMoreLabelCaptionLeft(int GlyphWidth, int Spacing);
int TdMoreLabelWidth(int CaptionWidth, int GlyphWidth, int Spacing);

enum class TTdGlyphState { Cold, Hot, Pressed };
// The chevron of the expand label: pointing down to show the details, up to
// hide them; 16 × 16.
QPixmap TdMoreLabelGlyph(bool Expanded, TTdGlyphState State);

class TTdCustomLabel : public QWidget {
  Q_OBJECT
 public:
  explicit TTdCustomLabel(QWidget* Parent = nullptr);

  QString caption() const;
  void setCaption(const QString& Caption);

 signals:
  void clicked();

 protected:
  // The rectangle the caption is drawn in, from the client rectangle moved
  // down 1 and in 2.
  virtual QRect GetCaptionRect(QRect Rect) const;
  virtual void AdjustBounds() {}
  virtual void Click();

  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
};

class TTdMoreLabel : public TTdCustomLabel {
  Q_OBJECT
 public:
  explicit TTdMoreLabel(QWidget* Parent = nullptr);

  bool expanded() const { return FExpanded; }
  // A new value fires expandedChanged and OnExpanded or OnCollapsed.
  void setExpanded(bool Expanded);
  int spacing() const { return FSpacing; }
  void setSpacing(int Spacing);
  // A picture in place of the chevrons; a null one brings them back.
  QPixmap glyph() const { return FGlyph; }
  void setGlyph(const QPixmap& Glyph);
  // The captions shown collapsed and expanded; the caption follows Expanded.
  void setCaptions(const QString& ShowCaption, const QString& HideCaption);

  bool hot() const { return FHot; }
  QSize sizeHint() const override;

 signals:
  void expandedChanged(bool Expanded);
  void OnExpanded();
  void OnCollapsed();

 protected:
  QRect GetCaptionRect(QRect Rect) const override;
  void AdjustBounds() override;
  void Click() override;
  virtual void DoExpanded() { emit OnExpanded(); }
  virtual void DoCollapsed() { emit OnCollapsed(); }

  void paintEvent(QPaintEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;

 private:
  QSize glyphSize() const;
  QPixmap currentGlyph() const;

  bool FExpanded = false;
  int FSpacing = 4;
  QPixmap FGlyph;
  QString FShowCaption;
  QString FHideCaption;
  bool FMouseInside = false;
  bool FHot = false;
  bool FPressed = false;
  QSize FFitted;
};
