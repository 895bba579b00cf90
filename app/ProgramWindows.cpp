#include "app/ProgramWindows.h"

#include <QWidget>

#include "app/CommandLine.h"
#include "app/FormUnitEditBinary.h"
#include "app/FormUnitEditInteger.h"
#include "app/FormUnitEditMultiString.h"
#include "app/FormUnitEditString.h"
#include "app/FormUnitEditType.h"
#include "app/FormUnitHistory.h"
#include "app/FormUnitImportProgress.h"
#include "app/FormUnitMain.h"
#include "app/FormUnitResourceRequirementsList.h"
#include "app/KeyLister.h"
#include "app/ValueEditors.h"
#include "app/WindowPlacement.h"

std::string QtConfigForm::Name() const { return FWindow.objectName().toStdString(); }
// Position and size are both the client area's, read and set alike. The
// frame's position would come back shifted by the title bar: a window is
// placed before the window manager has framed it, so its frame is not known
// yet when the placement is restored.
int QtConfigForm::Left() const { return FWindow.geometry().x(); }
int QtConfigForm::Top() const { return FWindow.geometry().y(); }
int QtConfigForm::Width() const { return FWindow.geometry().width(); }
int QtConfigForm::Height() const { return FWindow.geometry().height(); }
void QtConfigForm::SetLeft(int value) {
  const QRect r = FWindow.geometry();
  FWindow.setGeometry(value, r.y(), r.width(), r.height());
}
void QtConfigForm::SetTop(int value) {
  const QRect r = FWindow.geometry();
  FWindow.setGeometry(r.x(), value, r.width(), r.height());
}
void QtConfigForm::SetWidth(int value) {
  const QRect r = FWindow.geometry();
  if (value > 0) FWindow.setGeometry(r.x(), r.y(), value, r.height());
}
void QtConfigForm::SetHeight(int value) {
  const QRect r = FWindow.geometry();
  if (value > 0) FWindow.setGeometry(r.x(), r.y(), r.width(), value);
}

int QtConfigForm::WindowState() const {
  if (FWindow.isMaximized()) return kWindowStateMaximized;
  if (FWindow.isMinimized()) return kWindowStateMinimized;
  return kWindowStateNormal;
}

void QtConfigForm::SetWindowState(int state) {
  Qt::WindowStates states = FWindow.windowState() & ~(Qt::WindowMaximized | Qt::WindowMinimized);
  if (state == kWindowStateMaximized) states |= Qt::WindowMaximized;
  FWindow.setWindowState(states);
}

// The windows in the order the program makes them (form name): formMain,
// formEditString, formEditInteger, formEditMultiString, formSearch,
// formBookmarks, formEditResourceRequirementsList, formRemoteConnect,
// formImportProgress, formValueType, formUserLogon, formOpenCustomHive,
// formOpenQELValue, formHistory, then the binary editor formEditBinary. Each
// window takes its place in that order when its unit is built. The
// placements follow that order.
TProgramWindows::TProgramWindows(KeyLister* registry, const TCommandLine& commandLine) {
  FMain = std::make_unique<TformMain>();
  FMain->setKeyLister(registry);
  FMain->FormCreate(commandLine);
  FEditors = std::make_unique<ValueEditorWindows>(FMain.get());
  setValueEditors(FEditors.get());
  QWidget* importProgress = FMain->formImportProgress();  // the main window owns it
  QWidget* history = FMain->formHistory();                // so does it this one
  FWindows = {FMain.get(),
              &FEditors->formEditString(),
              &FEditors->formEditInteger(),
              &FEditors->formEditMultiString(),
              &FEditors->formEditResourceRequirementsList(),
              importProgress,
              &FEditors->formValueType(),
              history,
              &FEditors->formEditBinary()};

  for (QWidget* window : FWindows) {
    FForms.push_back(std::make_unique<QtConfigForm>(*window));
    // A placement from another screen layout must not leave it out of reach.
    OnScreenGuard::install(*window);
  }
  ConfigManager().SetFormSource(this);
}

TProgramWindows::~TProgramWindows() {
  ConfigManager().SetFormSource(nullptr);
  setValueEditors(nullptr);
  FMain->FormDestroy();
}

std::vector<ConfigForm*> TProgramWindows::Forms() {
  std::vector<ConfigForm*> forms;
  for (const auto& form : FForms) forms.push_back(form.get());
  return forms;
}
