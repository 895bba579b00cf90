#pragma once

// Detection-rule lines of the rule format: the table of item types the
// description list offers, the line formats, and the dialog that turns a
// registry value into a line with the command the user picks.

#include <QDialog>
#include <QString>

#include <array>
#include <string_view>

#include "core/bwlRegistry.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

struct RuleItemType {
  std::string_view identifier;
  std::string_view displayName;
};

inline constexpr int kRuleItemTypeCount = 75;
// In the rule format's order; "FILE_UNINSTALLER" stands at 36 and again at 51.
extern const std::array<RuleItemType, kRuleItemTypeCount> kRuleItemTypes;

enum class RuleCommand { value, remove, change, fix };

// The line of a value rule. The value command takes `parameter` only when
// `withParameter`; the others always. Nothing inside an argument is escaped.
QString ValueRuleLine(RuleCommand command, bool withParameter, const QString& description, const QString& root,
                      const QString& keyPath, const QString& valueName, const QString& parameter);

class TformOpenQELValue : public QDialog {
  Q_OBJECT
public:
  explicit TformOpenQELValue(QWidget* parent = nullptr);

  // Shows the value and waits for the user; true when closed with OK, and
  // `ruleLine` then holds the line of the chosen command.
  bool Execute(platform::HKEY root, TRegDataType kind, QString& ruleLine, const QString& dataText,
               const QString& valueName, const QString& keyPath);
  // The line the dialog's present state gives.
  QString RuleLine() const;
  // Prepares the dialog for the value without showing it.
  void Prepare(platform::HKEY root, TRegDataType kind, const QString& dataText, const QString& valueName,
               const QString& keyPath);

  QLabel *lRootValue, *lPathValue, *lValueValue, *lTypeValue, *lDataValue;
  QComboBox* cbDescription;
  QRadioButton *rbRegyValue, *rbRegyRemove, *rbRegyChange, *rbRegyFix;
  QCheckBox* cbVerifier;
  QLineEdit* editVerifier;

private:
  void FormCreate();
};

// The one dialog of the program, made at first use; it keeps the command, the
// check box and the description between uses.
TformOpenQELValue& formOpenQELValue();
