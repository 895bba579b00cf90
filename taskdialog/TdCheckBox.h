#pragma once

// The dialog's verification check box, drawn by itself: the box through the
// widget style, the wide caption beside it. A left click on the box or the
// caption toggles it; every click, right ones too, fires clicked().

#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

// The box and caption rectangles of a check box of Client size whose box is
// BoxSize, at the left or (BoxRight) at the right.
QRect TdCheckBoxBoxRect(QSize Client, QSize BoxSize, bool BoxRight);
QRect TdCheckBoxCaptionRect(QSize Client, QSize BoxSize, bool BoxRight);

class TTdCheckBox : public QWidget {
  Q_OBJECT
 public:
  explicit TTdCheckBox(QWidget* Parent = nullptr);

  QString caption() const;
  void setCaption(const QString& Caption);
  bool checked() const { return FChecked; }
  // A new value repaints and fires checkedChanged.
  void setChecked(bool Checked);
  Qt::Alignment alignment() const { return FAlignment; }
  // Qt::AlignLeft puts the box at the left, Qt::AlignRight at the right.
  void setAlignment(Qt::Alignment Alignment);
  bool transparent() const { return FTransparent; }
  void setTransparent(bool Transparent);

  QSize sizeHint() const override;
  QRect boxRect() const;
  QRect captionRect() const;

 signals:
  void clicked();
  void checkedChanged(bool Checked);

 protected:
  virtual bool PointInCaption(QPoint Point) const;
  virtual void Toggle();
  virtual void DoClick() { emit clicked(); }

  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;

 private:
  QSize boxSize() const;
  bool boxRight() const;

  bool FChecked = false;
  Qt::Alignment FAlignment = Qt::AlignLeft;
  bool FTransparent = false;
  bool FHot = false;
  bool FPressed = false;
};
