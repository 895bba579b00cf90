#pragma once

// The program's windows, made in one fixed order with the main window first,
// living to the end of the program, and handed to the settings object, which
// restores and saves the placement of each.

#include <memory>
#include <vector>

#include "core/bwlConfig.h"

class KeyLister;
class QWidget;
class TCommandLine;
class TformMain;
class ValueEditorWindows;

// A window's placement as the settings object sees it: its name, its bounds
// (position and size of the inside, the client area) and its state.
class QtConfigForm final : public ConfigForm {
public:
  explicit QtConfigForm(QWidget& window) : FWindow(window) {}
  std::string Name() const override;
  int Left() const override;
  int Top() const override;
  int Width() const override;
  int Height() const override;
  void SetLeft(int value) override;
  void SetTop(int value) override;
  void SetWidth(int value) override;
  void SetHeight(int value) override;
  int WindowState() const override;
  void SetWindowState(int state) override;

private:
  QWidget& FWindow;
};

class TProgramWindows final : public ConfigFormSource {
public:
  // Makes every window of the list that exists, in order; making the main
  // window runs its FormCreate with the command line. The settings object
  // visits these windows, and the main window edits values through these
  // editor windows, until this object goes.
  TProgramWindows(KeyLister* registry, const TCommandLine& commandLine);
  ~TProgramWindows() override;
  TProgramWindows(const TProgramWindows&) = delete;
  TProgramWindows& operator=(const TProgramWindows&) = delete;

  TformMain& Main() { return *FMain; }
  ValueEditorWindows& Editors() { return *FEditors; }
  std::vector<ConfigForm*> Forms() override;

private:
  std::unique_ptr<TformMain> FMain;
  // Declared after the main window, their parent, so they go first.
  std::unique_ptr<ValueEditorWindows> FEditors;
  std::vector<QWidget*> FWindows;  // in the order made
  std::vector<std::unique_ptr<QtConfigForm>> FForms;
};
