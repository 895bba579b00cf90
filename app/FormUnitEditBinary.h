#pragma once

// The binary editor: one value's bytes as hex pairs, sixteen to a line, for
// the kinds that have no editor of their own (binary data, REG_NONE, links
// and the resource lists). The text is checked before the window closes with
// OK: a stray character or half a byte is pointed out and nothing is written.

#include <QDialog>

#include <cstdint>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The bytes as upper-case hex pairs, sixteen to a line, separated by blanks.
QString bytesToHexText(const std::vector<std::uint8_t>& bytes);

// Hex pairs separated by blanks, tabs, line breaks or commas (as .reg files
// write them); upper or lower case. Without a value when the text holds
// another character or a lone digit; `badPosition` then receives the
// position of the first such character (or of the lone digit).
std::optional<std::vector<std::uint8_t>> hexTextToBytes(const QString& text, int* badPosition = nullptr);

class TformEditBinary : public QDialog {
  Q_OBJECT
public:
  explicit TformEditBinary(QWidget* parent = nullptr);

  // Shows the window modally; returns the modal result. On OK `bytes`
  // receives the bytes the text holds; on Cancel it is left as it was.
  int Execute(const QString& valueName, std::vector<std::uint8_t>& bytes);
  // The filling Execute does before showing.
  void Fill(const QString& valueName, const std::vector<std::uint8_t>& bytes);

  QLineEdit* editValue = nullptr;
  QPlainTextEdit* memoData = nullptr;
  QLabel* labelError = nullptr;
  QPushButton* bnOK = nullptr;
  QPushButton* bnCancel = nullptr;

  void accept() override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  std::vector<std::uint8_t> FBytes;
};
