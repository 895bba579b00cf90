#include "app/ProgramWindows.h"

#include <QWidget>

#include "app/CommandLine.h"
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

std::string QtConfigForm::Name() const { return FWindow.objectName().toStdString(); }
int QtConfigForm::Left() const { return FWindow.x(); }
int QtConfigForm::Top() const { return FWindow.y(); }
int QtConfigForm::Width() const { return FWindow.width(); }
int QtConfigForm::Height() const { return FWindow.height(); }
void QtConfigForm::SetLeft(int value) { FWindow.move(value, FWindow.y()); }
void QtConfigForm::SetTop(int value) { FWindow.move(FWindow.x(), value); }
void QtConfigForm::SetWidth(int value) {
  if (value > 0) FWindow.resize(value, FWindow.height());
}
void QtConfigForm::SetHeight(int value) {
  if (value > 0) FWindow.resize(FWindow.width(), value);
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
// formOpenQELValue, formHistory. Each window takes its place in that order
// when its unit is built. The placements follow that order.
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
              history};

  for (QWidget* window : FWindows) FForms.push_back(std::make_unique<QtConfigForm>(*window));
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
