// The main window's "About..." action.

#include "app/FormUnitMain.h"
#include "app/bwlUIDlgAbout.h"

void TformMain::aAboutExecute() {
  UpdateFileName = QStringLiteral("hivescope.ini");
  ShowAboutBox(QString(), false, this);
}
