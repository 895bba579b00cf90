#pragma once

// The search window: sets up a registry search, runs it (the window is the
// engine's sink), and works through the results: export as a .reg file,
// delete, and replace in key names, value names and string data.
//
// A whole-registry search can find 100,000 rows, so the rows live in one
// vector behind SearchResultsModel; incoming rows are gathered and merged into
// it in batches instead of one insert per row.

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "core/SearchEngine.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTabWidget;
class QTimeEdit;
class QTreeView;
class TformMain;

// The rows of `lvResults`, kept sorted by caption (ignoring case; rows of one
// caption in the order they came).
class SearchResultsModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum Column { colKey = 0, colValue, colData, colCount };

  explicit SearchResultsModel(QObject* parent = nullptr);

  // Rows wait here until flush() merges them in.
  void addPending(TSearchListItem item) { pending_.push_back(std::move(item)); }
  bool hasPending() const { return !pending_.empty(); }
  void flush();
  void clear();

  int count() const { return static_cast<int>(rows_.size()); }
  const TSearchListItem& item(int row) const { return rows_[static_cast<std::size_t>(row)]; }
  TSearchListItem& item(int row) { return rows_[static_cast<std::size_t>(row)]; }
  void setChecked(int row, bool checked);
  void setFailed(int row);
  void removeRow(int row);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
  std::vector<TSearchListItem> rows_;
  std::vector<TSearchListItem> pending_;
};


// Replaces every occurrence of `from` in `text` by `to`, scanning on after
// each inserted text, so each occurrence in the old text counts once even
// when `to` holds `from`. An empty `from` replaces nothing. Returns the count.
int ReplaceOccurrences(QString& text, const QString& from, const QString& to, bool ignoreCase);

class TformSearch : public QWidget, private SearchSink {
  Q_OBJECT
public:
  explicit TformSearch(TformMain* mainForm = nullptr);
  ~TformSearch() override;

  void ShowSearch(platform::HKEY root, const QString& keyPath, TRegistryView view);
  void ExportResults(const QString& fileName, bool checkedOnly);

  // The options the main window's settings restore and save.
  TSearchOptions settings() const;
  void setSettings(const TSearchOptions& s);

  SearchResultsModel* resultsModel() const { return model_; }
  QString statusText() const;
  bool searching() const { return searching_; }

  // Handlers.
  void FormShow();
  void rbRangeKeyClick();
  void rbRangeCompleteClick();
  void cbSearchStyleChange();
  void cbByDateModeChange();
  void aSearchStartExecute();
  void bnStopClick();
  void bnCancelClick();
  void lvResultsDblClick(int row);
  void pmResultsPopup();
  void aSearchResultsExportAllExecute();
  void aSearchResultsExportSelectedExecute();
  void aSearchResultsDeleteSelectedExecute();
  void aReplaceExecute();
  // The select and deselect actions: rows whose image is in `images`.
  void checkRows(std::initializer_list<int> images, bool checked);

  // Controls under their own names.
  QTabWidget* pcSearch = nullptr;
  QWidget *tsCriteria = nullptr, *tsByDate = nullptr, *tsResults = nullptr, *tsReplace = nullptr;
  QLineEdit* editSearchTerm = nullptr;
  QComboBox* cbSearchStyle = nullptr;
  QCheckBox* cbHex = nullptr;
  QCheckBox *cbFocusKeys = nullptr, *cbFocusValues = nullptr, *cbFocusData = nullptr;
  QRadioButton *rbRangeKey = nullptr, *rbRangeComplete = nullptr;
  QLabel* labelSearchRange = nullptr;
  QCheckBox *cbIgnoreCase = nullptr, *cbHighSpeed = nullptr;
  QCheckBox *cbDataTypeStrings = nullptr, *cbDataTypeNumerics = nullptr, *cbDataTypeBinary = nullptr;
  QGroupBox *gbFocus = nullptr, *gbRange = nullptr, *gbMisc = nullptr, *gbDataTypes = nullptr;
  QLabel *labelSearchFor = nullptr, *labelSearchStyle = nullptr, *labelByDate = nullptr, *labelAnd = nullptr;
  QComboBox* cbByDateMode = nullptr;
  QDateEdit *dtDate1 = nullptr, *dtDate2 = nullptr;
  QTimeEdit *dtTime1 = nullptr, *dtTime2 = nullptr;
  QTreeView* lvResults = nullptr;
  QMenu* pmResults = nullptr;
  QLineEdit *editReplaceSource = nullptr, *editReplaceNew = nullptr;
  QPushButton* bnReplace = nullptr;
  QCheckBox *cbReplaceIgnoreCase = nullptr, *cbReplaceOverwriteValues = nullptr, *cbReplaceOverwriteKeys = nullptr;
  QPushButton *bnSearch = nullptr, *bnStop = nullptr, *bnCancel = nullptr;
  QProgressBar *animSearch = nullptr, *animReplace = nullptr;
  QStatusBar* sbar = nullptr;

  QAction *aSearchStart = nullptr, *aReplace = nullptr;
  QAction *aSearchResultsSelectAll = nullptr, *aSearchResultsDeSelectAll = nullptr,
          *aSearchResultsSelectKeys = nullptr, *aSearchResultsDeSelectKeys = nullptr,
          *aSearchResultsSelectValues = nullptr, *aSearchResultsDeSelectValues = nullptr,
          *aSearchResultsSelectData = nullptr, *aSearchResultsDeSelectData = nullptr,
          *aSearchResultsExportKeyContents = nullptr, *aSearchResultsExportAll = nullptr,
          *aSearchResultsExportSelected = nullptr, *aSearchResultsDeleteSelected = nullptr;

  platform::HKEY FRootKey = platform::HKEY_LOCAL_MACHINE;
  std::string FKeyPath = "\\";
  TRegistryView FView = rvDefault;
  int FCompareMode = 0;
  bool FStopRequested = false;

protected:
  void showEvent(QShowEvent* event) override;

private:
  // SearchSink.
  void AddResult(TSearchListItem item) override;
  void SetStatusText(const std::string& text) override;
  void ProcessMessages() override;
  bool StopRequested() override { return FStopRequested; }
  void SearchFailed(const std::string& message) override;

  void buildCriteriaPage();
  void buildByDatePage();
  void buildResultsPage();
  void buildReplacePage();
  void buildActions();
  void connectAll();
  void setBusy(bool busy, QProgressBar* anim);
  SearchOptions searchOptions() const;
  void exportWithDialog(bool checkedOnly);
  QString exportHeader() const;
  int replaceInRow(int row);

  TformMain* mainForm_;
  SearchResultsModel* model_;
  QElapsedTimer sinceFlush_;
  QElapsedTimer sinceEvents_;
  std::string pendingStatus_;
  bool searching_ = false;
  std::string failure_;
};
