#include "app/FormUnitMain.h"

TformMain::TformMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("formMain"));
  setWindowTitle(QStringLiteral("Hivescope"));
  resize(900, 600);
}
