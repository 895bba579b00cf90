#pragma once

// The history window: the change-history database as a list, one row per
// recorded change. The selected changes can be undone or redone in the
// registry, saved as a .reg file that undoes or redoes them, and deleted
// from the database. The main window hands over its history and shows the
// window non-modally.

#include <QMainWindow>
#include <QString>

#include <string>
#include <vector>

#include "app/HistoryListModel.h"
#include "png/qt/PngIconList.h"

class QAction;
class QMenu;
class QTableView;
class QToolBar;
class TRegistryChange;
class TRegistryChangeHistory;

// Which way selected changes are taken: undoing goes from the newest change
// back, redoing from the oldest on, by the database's ids whatever the
// list's order, so a value made, deleted and made again ends as it did.
enum class ChangeOrder { newestFirst, oldestFirst };
void OrderChanges(std::vector<TRegistryChange*>& changes, ChangeOrder order);

// The text of a saved undo or redo: "REGEDIT4", an empty line, then the
// undo or redo lines of each change in the order given.
std::vector<std::string> HistoryRegLines(const std::vector<TRegistryChange*>& changes, bool undo);

class TformHistory : public QMainWindow {
  Q_OBJECT
public:
  explicit TformHistory(QWidget* parent = nullptr);

  // The main window's history (not owned; none until it is set). A new one
  // empties the list; a shown window reloads it.
  void SetHistory(TRegistryChangeHistory* history);
  TRegistryChangeHistory* FHistory = nullptr;

  // Loads every row of the database afresh, in database order; a sort lasts
  // until here. A database that cannot be read is said in an error box.
  void Reload();
  void lvHistoryColumnClick(int column);
  // All five actions are enabled exactly when a row is selected.
  void alHistoryUpdate();
  // The selected rows' changes in the order given.
  std::vector<TRegistryChange*> SelectedChanges(ChangeOrder order) const;
  // Writes the .reg text of these changes as 8-bit text with CR LF; false,
  // after an error box naming the file, when it cannot be written.
  bool SaveRegFile(const QString& fileName, const std::vector<TRegistryChange*>& changes, bool undo);

  HistoryListModel* model() const { return model_; }

public slots:
  void aUndoSaveReg4Execute();
  void aRedoSaveReg4Execute();
  // The registry's refusals are gathered and said in one error box; the
  // list and the database stay as they are.
  void aUndoSelectedExecute();
  void aRedoSelectedExecute();
  void aDeleteSelectedExecute();

protected:
  void showEvent(QShowEvent* event) override;

private:
  QAction* makeAction(const char* name, const QString& caption, int image, void (TformHistory::*handler)());
  void createActions();
  void createLayout();
  void connectAll();
  void saveSelected(bool undo);
  void applySelected(bool undo);
  void showError(const QString& text);

  HistoryListModel* model_;

public:
  // The image lists the actions draw from: 16 pixels in menus, 24 in the
  // tool bar, the same five images each, with their own disabled forms.
  TPngIconList ilHistory16{16, 16};
  TPngIconList ilHistory24{24, 24};

  // Controls, menus and actions, named as designed.
  QToolBar* tbHistory = nullptr;
  QTableView* lvHistory = nullptr;
  QMenu* miFile = nullptr;
  QMenu* miEdit = nullptr;
  QMenu* pmHistory = nullptr;
  QAction *aUndoSaveReg4 = nullptr, *aRedoSaveReg4 = nullptr, *aUndoSelected = nullptr, *aRedoSelected = nullptr,
          *aDeleteSelected = nullptr;
};
