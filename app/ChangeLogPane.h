#pragma once

// A change-log pane until the text editor control exists: a read-only plain
// text view in a monospace font 13 pixels high, with a gutter of line
// numbers, and no colouring. The lines live in a list beside the document,
// so counting and joining them never reads the document back.

#include <QPlainTextEdit>
#include <QStringList>

#include "editor/CodeEditLines.h"

class ChangeLogPane : public QPlainTextEdit, public CodeEditLines {
  Q_OBJECT
public:
  explicit ChangeLogPane(QWidget* parent = nullptr);

  int Count() const override { return static_cast<int>(lines_.size()); }
  void Add(const QString& line) override;
  void AddStrings(const std::vector<std::string>& lines) override;
  QString Text() const override;

  // The gutter's width in pixels for the current line count.
  int gutterWidth() const;

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  friend class ChangeLogGutter;
  void appendLines(const QStringList& lines);
  void updateGutterWidth();
  void updateGutter(const QRect& rect, int dy);
  void paintGutter(QPaintEvent* event);

  QStringList lines_;
  QWidget* gutter_ = nullptr;
};
