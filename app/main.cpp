#include <QApplication>

#include "app/FormUnitMain.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Hivescope"));
  // Arguments are looked at by the start-up code of the main window; anything
  // not understood is left alone rather than treated as an error.
  TformMain formMain;
  formMain.show();
  return QApplication::exec();
}
