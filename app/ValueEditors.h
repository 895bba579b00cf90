#pragma once

// The main window reaches the value editor windows through this interface, so
// tests answer the editors with a recorder instead of a modal loop.

#include <QString>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/bwlRegistry.h"

class QWidget;
class TformEditString;
class TformEditInteger;
class TformEditMultiString;
class TformEditResourceRequirementsList;
class TformValueType;
class TformEditBinary;

class ValueEditors {
public:
  virtual ~ValueEditors() = default;
  // Each editor returns its modal result (mrOk, mrCancel) and hands back what
  // its fields hold whatever the result; a caller writes only on mrOk.
  virtual int editString(const QString& valueName, QString& text) = 0;
  virtual int editInteger32(const QString& valueName, std::uint32_t& value) = 0;
  virtual int editInteger64(const QString& valueName, std::int64_t& value) = 0;
  // `text`: the strings, each followed by CR LF when it comes back.
  virtual int editMultiString(const QString& valueName, QString& text) = 0;
  // True only when a new kind was chosen and confirmed.
  virtual bool changeValueType(const QString& valueName, const QString& dataText, TRegDataType currentKind,
                               TRegDataType& newKind) = 0;
  // Read-only: nothing comes back.
  virtual void showResourceRequirementsList(std::span<const std::uint8_t> data) = 0;
  // The bytes of a value without an editor of its own kind; `bytes` changes
  // only on OK.
  virtual int editBinary(const QString& valueName, std::vector<std::uint8_t>& bytes) = 0;
};

// The five windows, made once (in the program's creation order) and reused
// for every value. A `parent` must outlive this object (a member of the
// parent window does).
class ValueEditorWindows : public ValueEditors {
public:
  explicit ValueEditorWindows(QWidget* parent = nullptr);
  ~ValueEditorWindows() override;

  int editString(const QString& valueName, QString& text) override;
  int editInteger32(const QString& valueName, std::uint32_t& value) override;
  int editInteger64(const QString& valueName, std::int64_t& value) override;
  int editMultiString(const QString& valueName, QString& text) override;
  bool changeValueType(const QString& valueName, const QString& dataText, TRegDataType currentKind,
                       TRegDataType& newKind) override;
  void showResourceRequirementsList(std::span<const std::uint8_t> data) override;
  int editBinary(const QString& valueName, std::vector<std::uint8_t>& bytes) override;

  TformEditString& formEditString() { return *formEditString_; }
  TformEditInteger& formEditInteger() { return *formEditInteger_; }
  TformEditMultiString& formEditMultiString() { return *formEditMultiString_; }
  TformEditResourceRequirementsList& formEditResourceRequirementsList() { return *formEditResourceRequirementsList_; }
  TformValueType& formValueType() { return *formValueType_; }
  TformEditBinary& formEditBinary() { return *formEditBinary_; }

private:
  std::unique_ptr<TformEditString> formEditString_;
  std::unique_ptr<TformEditInteger> formEditInteger_;
  std::unique_ptr<TformEditMultiString> formEditMultiString_;
  std::unique_ptr<TformEditResourceRequirementsList> formEditResourceRequirementsList_;
  std::unique_ptr<TformValueType> formValueType_;
  std::unique_ptr<TformEditBinary> formEditBinary_;
};

// The editors in use. Until the program sets its windows, each call makes the
// window it needs for that call alone. Setting nullptr restores that default.
ValueEditors& valueEditors();
void setValueEditors(ValueEditors* editors);
