#pragma once

// The multi-string editor: one line of the memo per string of the value.

#include <QDialog>
#include <QStringList>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The lines of a text as a string list takes them: lines end at CR LF, CR or
// LF, and a final line break adds no empty line.
QStringList TextLines(const QString& text);
// Every line followed by CR LF.
QString JoinLinesCrLf(const QStringList& lines);

class TformEditMultiString : public QDialog {
  Q_OBJECT
public:
  explicit TformEditMultiString(QWidget* parent = nullptr);

  // Shows the window modally; returns the modal result. `text` receives the
  // memo's lines each followed by CR LF whatever the result.
  int Execute(const QString& valueName, QString& text);
  // The filling Execute does before showing: the text's lines become the memo's.
  void Fill(const QString& valueName, const QString& text);
  // The memo's lines. A last empty line (the memo's text ends with a line
  // break) is no line; an empty memo has none.
  QStringList Lines() const;

  QLineEdit* editValue = nullptr;
  QPlainTextEdit* memoData = nullptr;
  QPushButton* bnOK = nullptr;
  QPushButton* bnCancel = nullptr;

protected:
  void showEvent(QShowEvent* event) override;
};
