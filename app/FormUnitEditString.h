#pragma once

// The string editor: one value's name and its text, for string and
// expandable-string values.

#include <QDialog>

class QGroupBox;
class QLineEdit;
class QPushButton;

class TformEditString : public QDialog {
  Q_OBJECT
public:
  explicit TformEditString(QWidget* parent = nullptr);

  // Shows the window modally; returns the modal result. `text` receives the
  // field's text whatever the result: the caller decides by the result alone.
  int Execute(const QString& valueName, QString& text);
  // The filling Execute does before showing.
  void Fill(const QString& valueName, const QString& text);

  QGroupBox* GroupBox1 = nullptr;
  QLineEdit* editValue = nullptr;
  QLineEdit* editData = nullptr;
  QPushButton* bnOK = nullptr;
  QPushButton* bnCancel = nullptr;

protected:
  void showEvent(QShowEvent* event) override;
};
