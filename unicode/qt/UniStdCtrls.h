#pragma once

// Wide edit, label, push button, check box and radio button. Each keeps a
// wide caption (hotkey marked by the last single "&") and a wide hint, and
// reacts to its hotkey as Alt plus the typed character.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "unicode/qt/UniControls.h"

#include <vector>

namespace uni {

// A line edit whose text, selection start and length count UTF-16 units.
class TUniEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TUniEdit(QWidget* Parent = nullptr);

  QString text() const;
  // An equal text changes nothing: no textChanged, the cursor stays.
  void setText(const QString& Text);
  QString hint() const;
  void setHint(const QString& Hint);

  // The selection as the edit reports it: with no selection the start is the
  // cursor position and the length 0. Setting the start drops the selection.
  int selStart() const;
  void setSelStart(int Start);
  int selLength() const;
  void setSelLength(int Length);
  QString selText() const;
};

enum class TEllipsisPosition { None, End, Word, Path };

// A label drawn by itself: hotkey underlined unless ShowAccelChar is off,
// ellipsis at the end, after a word or in the middle of a path, and the
// embossed look of disabled text. Its hotkey focuses its buddy.
class TUniLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TUniLabel(QWidget* Parent = nullptr);
  TUniLabel(const QString& Caption, QWidget* Parent = nullptr);

  QString caption() const;
  void setCaption(const QString& Caption);
  QString hint() const;
  void setHint(const QString& Hint);

  bool showAccelChar() const { return FShowAccelChar; }
  void setShowAccelChar(bool Show);
  TEllipsisPosition ellipsisPosition() const { return FEllipsis; }
  void setEllipsisPosition(TEllipsisPosition Position);
  bool autoSize() const { return FAutoSize; }
  void setAutoSize(bool AutoSize);

  // The DrawText flags and the text the label draws in its rectangle; Draw
  // false when a shortened text has nothing left.
  struct TDrawing {
    QString Text;
    unsigned Format = 0;
    bool Draw = true;
  };
  TDrawing drawing() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  bool hotkeyPressed();
  unsigned baseFormat() const;

  bool FShowAccelChar = true;
  bool FAutoSize = true;
  TEllipsisPosition FEllipsis = TEllipsisPosition::None;
};

// The passes of a label's text: an enabled label once in its text colour; a
// disabled one first moved by (1, 1) in the light (highlight) colour, then in
// place in the dark (shadow) colour.
struct TLabelPass {
  QPoint Offset;
  QPalette::ColorRole Role;
};
std::vector<TLabelPass> LabelPasses(bool Enabled);

class TUniButton : public TWideCaptioned<QPushButton> {
  Q_OBJECT
 public:
  explicit TUniButton(QWidget* Parent = nullptr);
  TUniButton(const QString& Caption, QWidget* Parent = nullptr);
};

class TUniCheckBox : public TWideCaptioned<QCheckBox> {
  Q_OBJECT
 public:
  explicit TUniCheckBox(QWidget* Parent = nullptr);
  TUniCheckBox(const QString& Caption, QWidget* Parent = nullptr);
};

class TUniRadioButton : public TWideCaptioned<QRadioButton> {
  Q_OBJECT
 public:
  explicit TUniRadioButton(QWidget* Parent = nullptr);
  TUniRadioButton(const QString& Caption, QWidget* Parent = nullptr);
};

}  // namespace uni
