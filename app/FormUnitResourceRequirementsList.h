#pragma once

// The read-only view of a resource-requirements value: one row per descriptor
// of its first alternative list.

#include <QDialog>

#include <cstdint>
#include <span>

class QLabel;
class QPushButton;
class QTreeWidget;

class TformEditResourceRequirementsList : public QDialog {
  Q_OBJECT
public:
  explicit TformEditResourceRequirementsList(QWidget* parent = nullptr);

  // Replaces the rows by those of the value's data; data the list cannot
  // stand for (see DecodeResourceRequirementsList) leaves the list empty. The
  // caller shows the window and ignores its result.
  void Fill(std::span<const std::uint8_t> data);

  QLabel* lblInterfaceType = nullptr;
  QLabel* lblBusNumber = nullptr;
  QLabel* lblSlotNumber = nullptr;
  QTreeWidget* lvList = nullptr;
  QPushButton* bnOK = nullptr;
  QPushButton* bnCancel = nullptr;
};
