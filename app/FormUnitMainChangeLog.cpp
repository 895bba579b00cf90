// The main window's change logs: every key and value the window creates,
// deletes, changes or renames is written as "REGEDIT4" text into the redo
// pane (which repeats the change) and the undo pane (which reverses it);
// creations, deletions and data changes also become rows of the change
// history. The panes can be saved as .reg files or applied to the registry.
//
// The history reads the registry itself, which fixes the order of the calls:
// deletions are logged and recorded before the registry is touched, changes
// after the write.

#include <QFont>
#include <QString>

#include <cstring>
#include <exception>
#include <filesystem>
#include <span>
#include <string>

#include "app/FormUnitHistory.h"
#include "app/FormUnitMain.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/bwlRegTools.h"
#include "core/SQLiteTables.h"
#include "core/bwlRegistryHistorySQLite.h"
#include "platform/AtomicFile.h"

namespace {

Is64Flag is64Of(TRegistryView view) { return view == rv64Bit ? Is64Flag::yes : Is64Flag::no; }

// The lines of an 8-bit export; the text's final CR LF ends the last line
// and opens none.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> exportedKey(platform::HKEY root, const QString& keyPath, TRegistryView view) {
  std::string out;
  ExportRegistryKey(root, qStringToAnsi(keyPath), out, false, is64Of(view));
  return splitLines(out);
}

}  // namespace

std::vector<std::string> ExportedValueLines(platform::HKEY root, const QString& keyPath, const QString& name,
                                            TRegistryView view) {
  std::string out;
  ExportRegistryValue(root, qStringToAnsi(keyPath), qStringToAnsi(name), out, false, is64Of(view));
  return splitLines(out);
}

namespace {

// A delete section names its key without a final backslash: the reader
// refuses a delete path ending in one (it would name the parent).
QString sectionLine(platform::HKEY root, const QString& keyPath, bool deleted) {
  QString path = keyPath;
  while (deleted && path.endsWith(u'\\')) path.chop(1);
  return (deleted ? QStringLiteral("[-") : QStringLiteral("[")) + QString::fromStdString(RootKeyToLongName(root)) +
         path + u']';
}

// The name between double quotes, then "=-". The name escapes backslashes and double quotes as the value lines do.
QString valueDeletionLine(const QString& name) {
  QString escaped = name;
  escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
  return u'"' + escaped + QStringLiteral("\"=-");
}

}  // namespace

codeedit::TCodeEdit* TformMain::makeChangeLogEditor(QWidget* parent) {
  auto* edit = new codeedit::TCodeEdit(parent);
  edit->Core().SetReadOnly(true);
  QFont font(QStringLiteral("Courier New"));
  font.setPixelSize(13);
  edit->SetFont(font);
  codeedit::TCodeGutter& gutter = edit->Core().Gutter();
  gutter.SetAutoSize(true);
  gutter.SetShowLineNumbers(true);
  // 11 pixels on a 96 dpi screen.
  gutter.SetFont({u"Courier New", 8, 0});
  edit->Core().SetHighlighter(CodeIniHighlighter1);
  return edit;
}

CodeEditLines& TformMain::logLines(LogPane pane) {
  const std::size_t i = pane == LogPane::redo ? 0 : 1;
  CodeEditLines& lines = held_[i] ? static_cast<CodeEditLines&>(*held_[i])
                         : pane == LogPane::redo ? static_cast<CodeEditLines&>(*editRedoLog)
                                                 : *editUndoLog;
  if (lines.Count() == 0) lines.Add(QString::fromLatin1(kRegFileHeader4.data(), kRegFileHeader4.size()));
  return lines;
}

void TformMain::BeginChange() {
  held_[0] = std::make_unique<HeldLines>(*editRedoLog);
  held_[1] = std::make_unique<HeldLines>(*editUndoLog);
  // Rows recorded meanwhile are those past the last one now.
  heldHistoryId_ = -1;
  if (TRegistryChangeHistory* history = History()) {
    try {
      TSQLiteTable last(history->Database(), "SELECT COALESCE(MAX(ID), 0) FROM " + TRegistryChangeHistory::TableName());
      heldHistoryId_ = last.AtEnd() ? 0 : std::stoll(last.CellAsText(0));
    } catch (const std::exception& e) {
      showError(QString::fromLocal8Bit(e.what()));
    }
  }
}

void TformMain::EndChange(bool done) {
  if (!done && held_[1]) undoEntries_.DropFrom(held_[1]->target.Count());
  for (auto& held : held_) {
    if (!held) continue;
    if (done)
      for (const QString& line : held->lines) held->target.Add(line);
    held.reset();
  }
  if (done || !FHistory || heldHistoryId_ < 0) return;
  try {
    FHistory->Database().Execute("DELETE FROM " + TRegistryChangeHistory::TableName() +
                                 " WHERE ID > " + std::to_string(heldHistoryId_));
    if (FHistory->Database().HasTable(TRegistryChangeHistory::ExtraTableName()))
      FHistory->Database().Execute("DELETE FROM " + TRegistryChangeHistory::ExtraTableName() + " WHERE ID > " +
                                   std::to_string(heldHistoryId_));
  } catch (const std::exception& e) {
    showError(QString::fromLocal8Bit(e.what()));
  }
}

void TformMain::showError(const QString& text) {
  QString shown = text;
  // The changes of the main window act on the selected key: when its hive
  // takes no changes, the refusal says why and what the user can do.
  if (const KeyNode* node = selectedNode(); node && GetNodeKind(node) == nkLocal) {
    const NodeLocation loc = GetNodeLocation(node);
    const QString note = ReadOnlyHiveNote(loc.root, loc.keyPath);
    if (!note.isEmpty() && !text.contains(note)) shown += QStringLiteral("\n\n") + note;
  }
  messageBoxes().messageDlg(this, shown, jmError, buttonBit(cbOK));
}

bool TformMain::OpenHistory(const std::string& fileName) {
  historyTried_ = true;
  // The history window lets go of the old history before it goes.
  if (formHistory_) formHistory_->SetHistory(nullptr);
  try {
    FHistory = std::make_unique<TRegistryChangeHistory>(fileName);
    if (formHistory_) formHistory_->SetHistory(FHistory.get());
    return true;
  } catch (const std::exception& e) {
    FHistory.reset();
    showError(QStringLiteral("The change history %1 cannot be opened; changes are not recorded.\n\n%2")
                  .arg(QString::fromStdString(fileName), QString::fromLocal8Bit(e.what())));
    return false;
  }
}

TRegistryChangeHistory* TformMain::History() {
  if (!FHistory && !historyTried_) OpenHistory(TRegistryChangeHistory::DefaultFileName());
  return FHistory.get();
}

void TformMain::recordChange(const std::function<void(TRegistryChangeHistory&)>& record) {
  TRegistryChangeHistory* history = History();
  if (!history) return;
  try {
    record(*history);
  } catch (const std::exception& e) {
    // The registry has changed already; a row that cannot be written must
    // not undo that or end the action.
    showError(QString::fromLocal8Bit(e.what()));
  }
}

void TformMain::markUndoEntry() { undoEntries_.Begin(logLines(LogPane::undo).Count()); }

void TformMain::LogKeyCreate(platform::HKEY root, const QString& keyPath, TRegistryView view) {
  CodeEditLines& redo = logLines(LogPane::redo);
  CodeEditLines& undo = logLines(LogPane::undo);
  markUndoEntry();
  redo.Add(QString());
  redo.Add(sectionLine(root, keyPath, false));
  undo.Add(QString());
  undo.Add(sectionLine(root, keyPath, true));
  recordChange([&](TRegistryChangeHistory& h) { h.RecordKeyCreate(root, qStringToAnsi(keyPath), view == rv64Bit); });
}

void TformMain::LogKeyDelete(platform::HKEY root, const QString& keyPath, TRegistryView view) {
  CodeEditLines& redo = logLines(LogPane::redo);
  redo.Add(QString());
  redo.Add(sectionLine(root, keyPath, true));
  markUndoEntry();
  logLines(LogPane::undo).AddStrings(exportedKey(root, keyPath, view));
  recordChange([&](TRegistryChangeHistory& h) { h.RecordKeyDelete(root, qStringToAnsi(keyPath), view == rv64Bit); });
}

void TformMain::LogKeyRename(platform::HKEY root, const QString& oldPath, LogPane pane, const QString& newPath,
                             TRegistryView view) {
  logLines(LogPane::redo);
  logLines(LogPane::undo);
  CodeEditLines& lines = logLines(pane);
  const bool redo = pane == LogPane::redo;
  if (!redo) markUndoEntry();
  lines.AddStrings(exportedKey(root, redo ? newPath : oldPath, view));
  lines.Add(QString());
  lines.Add(sectionLine(root, redo ? oldPath : newPath, true));
  // The redo entry is written once the key has its new name: the row then.
  if (redo) {
    const QString newName = newPath.mid(newPath.lastIndexOf(u'\\') + 1);
    recordChange([&](TRegistryChangeHistory& h) {
      h.RecordKeyRename(root, qStringToAnsi(oldPath), qStringToAnsi(newName), view == rv64Bit);
    });
  }
}

void TformMain::LogValueDelete(platform::HKEY root, const QString& keyPath, const QString& valueName,
                               TRegistryView view) {
  CodeEditLines& redo = logLines(LogPane::redo);
  redo.Add(QString());
  redo.Add(sectionLine(root, keyPath, false));
  redo.Add(valueDeletionLine(valueName));
  markUndoEntry();
  logLines(LogPane::undo).AddStrings(ExportedValueLines(root, keyPath, valueName, view));
  recordChange([&](TRegistryChangeHistory& h) {
    h.RecordValueDelete(root, qStringToAnsi(keyPath), qStringToAnsi(valueName), view == rv64Bit);
  });
}

void TformMain::LogValueChange(platform::HKEY root, const QString& keyPath, const QString& valueName,
                               const std::vector<std::string>& previousLines, TRegistryView view) {
  logLines(LogPane::redo).AddStrings(ExportedValueLines(root, keyPath, valueName, view));
  markUndoEntry();
  logLines(LogPane::undo).AddStrings(previousLines);
}

void TformMain::LogValueRename(LogPane pane, platform::HKEY root, const QString& nameToDelete,
                               const QString& nameToExport, const QString& keyPath, TRegistryView view) {
  if (pane == LogPane::undo) markUndoEntry();
  CodeEditLines& lines = logLines(pane);
  lines.AddStrings(ExportedValueLines(root, keyPath, nameToExport, view));
  lines.Add(valueDeletionLine(nameToDelete));
  if (pane == LogPane::redo)
    recordChange([&](TRegistryChangeHistory& h) {
      h.RecordValueRename(root, qStringToAnsi(keyPath), qStringToAnsi(nameToDelete), qStringToAnsi(nameToExport),
                          view == rv64Bit);
    });
}

// ---- Save and Apply --------------------------------------------------------

bool TformMain::SaveChangeLog(LogPane pane, const QString& fileName) {
  const CodeEditLines& lines = pane == LogPane::redo ? static_cast<CodeEditLines&>(*editRedoLog) : *editUndoLog;
  // A "REGEDIT4" file is in the Windows code page, as the reader takes it.
  const std::string text = RegFile4Bytes(qStringToAnsi(lines.Text()));
  const int error = platform::writeFileAtomically(
      std::filesystem::path(fileName.toStdString()), std::as_bytes(std::span<const char>(text.data(), text.size())));
  if (error == 0) return true;
  showError(QStringLiteral("The file %1 could not be written: %2")
                .arg(fileName, QString::fromLocal8Bit(std::strerror(error))));
  return false;
}

void TformMain::saveChangeLogAs(LogPane pane) {
  // Whatever filter is chosen, the pane's own "REGEDIT4" text is written.
  const QString fileName = prompter().saveFileName(this, QString(), ExportRegFilter(), QStringLiteral("reg"));
  if (!fileName.isEmpty()) SaveChangeLog(pane, fileName);
}

void TformMain::ApplyChangeLog(LogPane pane) {
  const CodeEditLines& pane_ = pane == LogPane::redo ? static_cast<CodeEditLines&>(*editRedoLog) : *editUndoLog;
  std::vector<std::string> lines = splitLines(qStringToAnsi(pane_.Text()));
  // The redo pane repeats the changes in the order they were made; the undo
  // pane reverses them newest first, as undoing in the history window does.
  if (pane == LogPane::undo) lines = undoEntries_.NewestFirst(lines);
  TMyRegistryReader reader;
  reader.FWriteToRegistry = true;
  try {
    reader.ImportStrings(lines);
  } catch (const std::exception& e) {
    // A write the registry refuses ends the import; what was applied stays.
    showError(QString::fromLocal8Bit(e.what()));
  }
}

void TformMain::aChangeLogRedoSaveExecute() { saveChangeLogAs(LogPane::redo); }
void TformMain::aChangeLogUndoSaveExecute() { saveChangeLogAs(LogPane::undo); }
void TformMain::aChangeLogRedoApplyExecute() { ApplyChangeLog(LogPane::redo); }
void TformMain::aChangeLogUndoApplyExecute() { ApplyChangeLog(LogPane::undo); }
