// The main window's .reg export (of the selected key, or of the bookmarks'
// keys) and import, with the import's progress window.

#include <QTreeView>

#include <exception>
#include <vector>

#include "app/FormUnitImportProgress.h"
#include "app/FormUnitMain.h"
#include "app/QtText.h"
#include "app/UiSeams.h"
#include "core/bwlRegTools.h"

namespace {

// Runs one export or import step; a failure becomes an error message with
// its text instead of leaving the event handler.
template <class Step>
void reportingFailure(QWidget* parent, Step step) {
  QString failure;
  try {
    step();
    return;
  } catch (const std::exception& e) {
    failure = QString::fromStdString(e.what());
  } catch (...) {
    failure = QStringLiteral("Unknown error");
  }
  messageBoxes().messageDlg(parent, failure, jmError, buttonBit(cbOK));
}

// An export that had to leave values out says which, once it is written: the
// file holds every value that could be read, and a comment for each other one.
void reportingIncomplete(QWidget* parent, const RegExportResult& result) {
  if (result.complete()) return;
  messageBoxes().messageDlg(parent,
                            QStringLiteral("The export is incomplete: ") + QString::fromStdString(result.text()) +
                                QStringLiteral("."),
                            jmWarning, buttonBit(cbOK));
}

}  // namespace

QString ExportRegFilter() {
  return QStringLiteral("Registry files (v5) (*.reg);;Win 9x/NT4 registry files (v4) (*.reg)");
}

TformImportProgress* TformMain::formImportProgress() {
  if (!importProgress_) importProgress_ = new TformImportProgress(this);
  return importProgress_;
}

void TformMain::aKeyExportExecute() {
  // Only keys of the local tree: a .reg file view or a remote node has no
  // registry key behind it.
  KeyNode* node = selectedNode();
  if (!node || node->level() == 0 || GetNodeKind(node) != nkLocal) return;
  int filter = 0;
  const QString file = prompter().saveFileName(this, QStringLiteral("Export"), ExportRegFilter(),
                                               QStringLiteral("reg"), &filter);
  if (file.isEmpty() || (filter != 1 && filter != 2)) return;
  const NodeLocation loc = GetSelectedLocation();
  // A root node exports its whole root.
  const std::string keyPath = loc.keyPath.isEmpty() ? std::string("\\") : qStringToAnsi(loc.keyPath);
  const Is64Flag is64 = loc.view == rv64Bit ? Is64Flag::yes : Is64Flag::no;
  RegExportResult result;
  reportingFailure(this, [&] {
    result = ExportRegistryKeyToFile(loc.root, keyPath, file.toStdString(), filter == 1, is64, true);
  });
  reportingIncomplete(this, result);
}

void TformMain::ExportBookmarkKeys(const QStringList& /*captions*/, const QStringList& keyPaths) {
  std::vector<platform::HKEY> roots;
  std::vector<std::string> paths;
  for (const QString& text : keyPaths) {
    const std::string ansi = qStringToAnsi(text);
    const std::size_t slash = ansi.find('\\');
    roots.push_back(NameToRootKey(ansi.substr(0, slash)));
    paths.push_back(slash == std::string::npos ? std::string() : ansi.substr(slash));
  }
  int filter = 0;
  const QString file = prompter().saveFileName(this, QStringLiteral("Export"), ExportRegFilter(),
                                               QStringLiteral("reg"), &filter);
  if (file.isEmpty() || (filter != 1 && filter != 2)) return;
  RegExportResult result;
  reportingFailure(this, [&] {
    result = ExportRegistryKeysToFile(roots, paths, file.toStdString(), filter == 1, Is64Flag::no, false);
  });
  reportingIncomplete(this, result);
}

void TformMain::ImportKeyEvent(platform::HKEY root, const std::string& keyPath, bool /*deleted*/) {
  formImportProgress()->SetKeyText(ansiToQString(RootKeyToLongName(root) + keyPath));
}

void TformMain::ImportProgressEvent(int lineIndex, int lastLineIndex) {
  formImportProgress()->SetProgress(lineIndex, lastLineIndex);
}

void TformMain::aKeyImportExecute() {
  const QString file = prompter().openFileName(this, QStringLiteral("Import"), ExportRegFilter());
  if (file.isEmpty()) return;
  TformImportProgress* progress = formImportProgress();
  progress->show();
  QString failure;
  try {
    TMyRegistryReader reader;
    reader.FWriteToRegistry = true;
    reader.OnProgress = [this](int line, int last) { ImportProgressEvent(line, last); };
    reader.OnKey = [this](platform::HKEY root, const std::string& path, bool deleted) {
      ImportKeyEvent(root, path, deleted);
    };
    if (!reader.LoadFromFile(file.toStdString()))
      failure = QStringLiteral("The file could not be read as registry file text.");
    else if (reader.Failures().any())
      failure = QStringLiteral("Not everything could be imported: ") + QString::fromStdString(reader.Failures().text());
  } catch (const std::exception& e) {
    failure = QString::fromStdString(e.what());
  } catch (...) {
    failure = QStringLiteral("Unknown error");
  }
  // The window goes before any message, which must not stand behind it.
  progress->close();
  if (!failure.isEmpty()) messageBoxes().messageDlg(this, failure, jmError, buttonBit(cbOK));
}
