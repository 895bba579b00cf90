#pragma once

// Message boxes answered with OK, their texts kept in order.

#include <QStringList>

#include "app/UiSeams.h"

class RecordingMessageBoxes : public MessageBoxes {
public:
  QStringList texts;
  int messageDlg(QWidget*, const QString& text, TTdMessageType, TCommonButtons) override {
    texts << text;
    return mrOk;
  }
};
