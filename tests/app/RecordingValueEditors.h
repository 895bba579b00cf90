#pragma once

// Stands in for the value editor windows: records every call and answers
// with what the test set beforehand, as a user would have typed it.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "app/UiSeams.h"
#include "app/ValueEditors.h"

class RecordingValueEditors : public ValueEditors {
public:
  // One line per call: the editor, the value name and what the caller passed.
  QStringList calls;
  // The answers.
  int result = mrOk;
  QString text;
  std::int64_t number = 0;
  bool kindChosen = true;
  TRegDataType kind = rdString;
  std::vector<std::uint8_t> shownRequirements;
  std::vector<std::uint8_t> bytes;

  int editString(const QString& valueName, QString& value) override {
    calls << QStringLiteral("string %1 %2").arg(valueName, value);
    value = text;
    return result;
  }
  int editInteger32(const QString& valueName, std::uint32_t& value) override {
    calls << QStringLiteral("integer32 %1 %2").arg(valueName).arg(value);
    value = static_cast<std::uint32_t>(number);
    return result;
  }
  int editInteger64(const QString& valueName, std::int64_t& value) override {
    calls << QStringLiteral("integer64 %1 %2").arg(valueName).arg(value);
    value = number;
    return result;
  }
  int editMultiString(const QString& valueName, QString& value) override {
    calls << QStringLiteral("multistring %1 %2").arg(valueName, value);
    value = text;
    return result;
  }
  bool changeValueType(const QString& valueName, const QString& dataText, TRegDataType currentKind,
                       TRegDataType& newKind) override {
    calls << QStringLiteral("type %1 %2 %3").arg(valueName, dataText).arg(static_cast<int>(currentKind));
    if (kindChosen) newKind = kind;
    return kindChosen;
  }
  void showResourceRequirementsList(std::span<const std::uint8_t> data) override {
    calls << QStringLiteral("requirements %1").arg(data.size());
    shownRequirements.assign(data.begin(), data.end());
  }
  int editBinary(const QString& valueName, std::vector<std::uint8_t>& value) override {
    QStringList hex;
    for (std::uint8_t b : value) hex << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    calls << QStringLiteral("binary %1 %2").arg(valueName, hex.join(u' '));
    if (result == mrOk) value = bytes;
    return result;
  }
};
