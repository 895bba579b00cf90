#include "app/ValueEditors.h"

#include <QApplication>

#include "app/FormUnitEditBinary.h"
#include "app/FormUnitEditInteger.h"
#include "app/FormUnitEditMultiString.h"
#include "app/FormUnitEditString.h"
#include "app/FormUnitEditType.h"
#include "app/FormUnitResourceRequirementsList.h"

ValueEditorWindows::ValueEditorWindows(QWidget* parent)
    : formEditString_(std::make_unique<TformEditString>(parent)),
      formEditInteger_(std::make_unique<TformEditInteger>(parent)),
      formEditMultiString_(std::make_unique<TformEditMultiString>(parent)),
      formEditResourceRequirementsList_(std::make_unique<TformEditResourceRequirementsList>(parent)),
      formValueType_(std::make_unique<TformValueType>(parent)),
      formEditBinary_(std::make_unique<TformEditBinary>(parent)) {}

ValueEditorWindows::~ValueEditorWindows() = default;

int ValueEditorWindows::editString(const QString& valueName, QString& text) {
  return formEditString_->Execute(valueName, text);
}

int ValueEditorWindows::editInteger32(const QString& valueName, std::uint32_t& value) {
  return formEditInteger_->Execute32(valueName, value);
}

int ValueEditorWindows::editInteger64(const QString& valueName, std::int64_t& value) {
  return formEditInteger_->Execute64(valueName, value);
}

int ValueEditorWindows::editMultiString(const QString& valueName, QString& text) {
  return formEditMultiString_->Execute(valueName, text);
}

bool ValueEditorWindows::changeValueType(const QString& valueName, const QString& dataText,
                                         TRegDataType currentKind, TRegDataType& newKind) {
  return formValueType_->Execute(valueName, dataText, currentKind, newKind);
}

void ValueEditorWindows::showResourceRequirementsList(std::span<const std::uint8_t> data) {
  formEditResourceRequirementsList_->Fill(data);
  formEditResourceRequirementsList_->exec();
}

int ValueEditorWindows::editBinary(const QString& valueName, std::vector<std::uint8_t>& bytes) {
  return formEditBinary_->Execute(valueName, bytes);
}

namespace {

// Windows made for one call and gone after it, so no window outlives the
// application object.
class EditorsPerCall : public ValueEditors {
public:
  int editString(const QString& valueName, QString& text) override {
    return windows().editString(valueName, text);
  }
  int editInteger32(const QString& valueName, std::uint32_t& value) override {
    return windows().editInteger32(valueName, value);
  }
  int editInteger64(const QString& valueName, std::int64_t& value) override {
    return windows().editInteger64(valueName, value);
  }
  int editMultiString(const QString& valueName, QString& text) override {
    return windows().editMultiString(valueName, text);
  }
  bool changeValueType(const QString& valueName, const QString& dataText, TRegDataType currentKind,
                       TRegDataType& newKind) override {
    return windows().changeValueType(valueName, dataText, currentKind, newKind);
  }
  void showResourceRequirementsList(std::span<const std::uint8_t> data) override {
    windows().showResourceRequirementsList(data);
  }
  int editBinary(const QString& valueName, std::vector<std::uint8_t>& bytes) override {
    return windows().editBinary(valueName, bytes);
  }

private:
  static ValueEditorWindows windows() { return ValueEditorWindows(QApplication::activeWindow()); }
};

ValueEditors* currentEditors = nullptr;

}  // namespace

ValueEditors& valueEditors() {
  static EditorsPerCall perCall;
  return currentEditors ? *currentEditors : perCall;
}

void setValueEditors(ValueEditors* editors) { currentEditors = editors; }
