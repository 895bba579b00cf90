#include "app/FormUnitHistory.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QStyle>
#include <QTableView>
#include <QToolBar>

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <span>

#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/bwlRegTools.h"
#include "core/bwlRegistryHistorySQLite.h"
#include "platform/AtomicFile.h"

namespace {

// The images of both lists, index for index.
QStringList imageFiles(int size) {
  QStringList files;
  for (int i = 0; i < 5; ++i) files << QStringLiteral(":/history/%1/%2.png").arg(size).arg(i);
  return files;
}

// What an error box says of a change: its id, key and value.
QString describeChange(const TRegistryChange& change) {
  QString text = QStringLiteral("%1  %2%3")
                     .arg(change.TableIndex)
                     .arg(ansiToQString(RootKeyToShortName(change.RootKey)), ansiToQString(change.KeyPath));
  if (change.EntryType == htValue) text += QStringLiteral("  \"%1\"").arg(ansiToQString(change.Value));
  return text;
}

}  // namespace

void OrderChanges(std::vector<TRegistryChange*>& changes, ChangeOrder order) {
  std::stable_sort(changes.begin(), changes.end(), [order](const TRegistryChange* a, const TRegistryChange* b) {
    return order == ChangeOrder::newestFirst ? a->TableIndex > b->TableIndex : a->TableIndex < b->TableIndex;
  });
}

std::vector<std::string> HistoryRegLines(const std::vector<TRegistryChange*>& changes, bool undo) {
  std::vector<std::string> lines{"REGEDIT4", ""};
  for (const TRegistryChange* change : changes) {
    if (undo) change->GetUndoLines(lines);
    else change->GetRedoLines(lines);
  }
  return lines;
}

TformHistory::TformHistory(QWidget* parent) : QMainWindow(parent, Qt::Window), model_(new HistoryListModel(this)) {
  setObjectName(QStringLiteral("formHistory"));
  setWindowTitle(QStringLiteral("Change History"));
  resize(820, 420);
  // The images are built in; a list that comes up short only leaves its
  // actions without pictures.
  ilHistory16.AddFiles(imageFiles(16));
  ilHistory24.AddFiles(imageFiles(24));
  createActions();
  createLayout();
  connectAll();
  alHistoryUpdate();
}

QAction* TformHistory::makeAction(const char* name, const QString& caption, int image,
                                  void (TformHistory::*handler)()) {
  auto* action = new QAction(caption, this);
  action->setObjectName(QString::fromLatin1(name));
  // One icon of both sizes: menus draw the 16-pixel image, the tool bar the
  // 24-pixel one, each enabled and disabled as its list made them.
  QIcon icon = ilHistory24.icon(image);
  const QIcon small = ilHistory16.icon(image);
  for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled})
    if (!small.isNull()) icon.addPixmap(small.pixmap(QSize(ilHistory16.Width(), ilHistory16.Height()), mode), mode);
  action->setIcon(icon);
  connect(action, &QAction::triggered, this, handler);
  return action;
}

void TformHistory::createActions() {
  aUndoSaveReg4 = makeAction("aUndoSaveReg4", QStringLiteral("Save undo for selected to .reg file..."), 0,
                             &TformHistory::aUndoSaveReg4Execute);
  aRedoSaveReg4 = makeAction("aRedoSaveReg4", QStringLiteral("Save redo for selected to .reg file..."), 0,
                             &TformHistory::aRedoSaveReg4Execute);
  aUndoSelected = makeAction("aUndoSelected", QStringLiteral("&Undo selected"), 2, &TformHistory::aUndoSelectedExecute);
  aRedoSelected = makeAction("aRedoSelected", QStringLiteral("&Redo selected"), 3, &TformHistory::aRedoSelectedExecute);
  aDeleteSelected =
      makeAction("aDeleteSelected", QStringLiteral("&Delete selected"), 4, &TformHistory::aDeleteSelectedExecute);
}

void TformHistory::createLayout() {
  miFile = menuBar()->addMenu(QStringLiteral("&File"));
  miFile->setObjectName(QStringLiteral("miFile"));
  miFile->addAction(aUndoSaveReg4);
  miFile->addAction(aRedoSaveReg4);
  miEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
  miEdit->setObjectName(QStringLiteral("miEdit"));
  miEdit->addAction(aUndoSelected);
  miEdit->addAction(aRedoSelected);
  miEdit->addSeparator();
  miEdit->addAction(aDeleteSelected);

  tbHistory = addToolBar(QStringLiteral("tbHistory"));
  tbHistory->setObjectName(QStringLiteral("tbHistory"));
  tbHistory->setMovable(false);
  tbHistory->setIconSize(QSize(ilHistory24.Width(), ilHistory24.Height()));
  tbHistory->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  tbHistory->addAction(aUndoSelected);
  tbHistory->addAction(aRedoSelected);

  pmHistory = new QMenu(this);
  pmHistory->setObjectName(QStringLiteral("pmHistory"));
  pmHistory->addAction(aDeleteSelected);

  lvHistory = new QTableView(this);
  lvHistory->setObjectName(QStringLiteral("lvHistory"));
  lvHistory->setModel(model_);
  lvHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvHistory->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lvHistory->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvHistory->setShowGrid(false);
  lvHistory->setWordWrap(false);
  lvHistory->setContextMenuPolicy(Qt::CustomContextMenu);
  lvHistory->verticalHeader()->hide();
  lvHistory->verticalHeader()->setDefaultSectionSize(lvHistory->fontMetrics().height() + 4);
  QHeaderView* header = lvHistory->horizontalHeader();
  header->setSectionsClickable(true);
  header->setHighlightSections(false);
  header->setDefaultSectionSize(50);
  header->setStretchLastSection(false);
  int widths[HistoryListModel::colCount] = {64, 128, 50, 50, 64, 192, 96, 128, 96, 192};
  // The columns of fixed texts are never narrower than their longest text
  // in this font, which may be wider than the one the widths were made for.
  const QFontMetrics metrics = lvHistory->fontMetrics();
  const int margin = 2 * lvHistory->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lvHistory) + 8;
  const auto fit = [&](int column, std::initializer_list<const char*> texts) {
    for (const char* text : texts)
      widths[column] = std::max(widths[column], metrics.horizontalAdvance(QString::fromLatin1(text)) + margin);
  };
  fit(HistoryListModel::colTimestamp, {"0000-00-00 00:00:00"});
  fit(HistoryListModel::colType, {"Key", "Value"});
  fit(HistoryListModel::colAction, {"Delete", "New", "Change", "Rename"});
  for (int column = 0; column < HistoryListModel::colCount; ++column) header->resizeSection(column, widths[column]);
  setCentralWidget(lvHistory);
}

void TformHistory::connectAll() {
  connect(lvHistory->horizontalHeader(), &QHeaderView::sectionClicked, this, &TformHistory::lvHistoryColumnClick);
  connect(lvHistory->selectionModel(), &QItemSelectionModel::selectionChanged, this, &TformHistory::alHistoryUpdate);
  // A reset drops the selection without a word of it.
  connect(model_, &QAbstractItemModel::modelReset, this, &TformHistory::alHistoryUpdate);
  connect(model_, &QAbstractItemModel::layoutChanged, this, &TformHistory::alHistoryUpdate);
  connect(lvHistory, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { pmHistory->popup(lvHistory->viewport()->mapToGlobal(pos)); });
}

void TformHistory::SetHistory(TRegistryChangeHistory* history) {
  FHistory = history;
  model_->setHistory(history);
  if (isVisible()) Reload();
}

void TformHistory::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Shown by the program, not given back by the window system after a
  // minimise.
  if (!event->spontaneous()) Reload();
}

void TformHistory::Reload() {
  if (!FHistory) return;
  FHistory->Clear();
  try {
    FHistory->LoadAll();
  } catch (const std::exception& e) {
    // What was read before the failure is listed.
    model_->setRows(FHistory->Count());
    showError(QString::fromLocal8Bit(e.what()));
    return;
  }
  model_->setRows(FHistory->Count());
}

void TformHistory::lvHistoryColumnClick(int column) { model_->sortByColumn(column); }

void TformHistory::alHistoryUpdate() {
  const bool selected = lvHistory->selectionModel()->hasSelection();
  for (QAction* action : {aUndoSaveReg4, aRedoSaveReg4, aUndoSelected, aRedoSelected, aDeleteSelected})
    action->setEnabled(selected);
}

std::vector<TRegistryChange*> TformHistory::SelectedChanges(ChangeOrder order) const {
  std::vector<TRegistryChange*> changes;
  for (const QModelIndex& index : lvHistory->selectionModel()->selectedRows())
    if (TRegistryChange* change = model_->change(index.row())) changes.push_back(change);
  OrderChanges(changes, order);
  return changes;
}

bool TformHistory::SaveRegFile(const QString& fileName, const std::vector<TRegistryChange*>& changes, bool undo) {
  std::string text;
  for (const std::string& line : HistoryRegLines(changes, undo)) text += line + "\r\n";
  // A "REGEDIT4" file is in the Windows code page, as the reader takes it.
  text = RegFile4Bytes(text);
  const int error = platform::writeFileAtomically(std::filesystem::path(fileName.toStdString()),
                                                  std::as_bytes(std::span<const char>(text.data(), text.size())));
  if (error == 0) return true;
  showError(QStringLiteral("The file %1 could not be written: %2")
                .arg(fileName, QString::fromLocal8Bit(std::strerror(error))));
  return false;
}

void TformHistory::saveSelected(bool undo) {
  const QString fileName =
      prompter().saveFileName(this, QString(), QStringLiteral("Registry v4 file (*.reg)"), QStringLiteral("reg"));
  if (fileName.isEmpty()) return;
  SaveRegFile(fileName, SelectedChanges(undo ? ChangeOrder::newestFirst : ChangeOrder::oldestFirst), undo);
}

void TformHistory::applySelected(bool undo) {
  const std::vector<TRegistryChange*> changes =
      SelectedChanges(undo ? ChangeOrder::newestFirst : ChangeOrder::oldestFirst);
  QStringList refused;
  for (TRegistryChange* change : changes)
    if (!(undo ? change->Undo() : change->Redo())) refused << describeChange(*change);
  if (refused.isEmpty()) return;
  showError(QStringLiteral("The registry refused %1 of the %2 selected changes; they were not %3:\n\n%4")
                .arg(refused.size())
                .arg(changes.size())
                .arg(undo ? QStringLiteral("undone") : QStringLiteral("redone"), refused.join(u'\n')));
}

void TformHistory::aUndoSaveReg4Execute() { saveSelected(true); }
void TformHistory::aRedoSaveReg4Execute() { saveSelected(false); }
void TformHistory::aUndoSelectedExecute() { applySelected(true); }
void TformHistory::aRedoSelectedExecute() { applySelected(false); }

void TformHistory::aDeleteSelectedExecute() {
  QModelIndexList rows = lvHistory->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() > b.row(); });
  try {
    for (const QModelIndex& index : rows)
      if (TRegistryChange* change = model_->change(index.row())) change->DeleteFromDatabase();
  } catch (const std::exception& e) {
    // The rows deleted so far are gone; the reload shows what is left.
    showError(QString::fromLocal8Bit(e.what()));
  }
  Reload();
}

void TformHistory::showError(const QString& text) { messageBoxes().messageDlg(this, text, jmError, buttonBit(cbOK)); }
