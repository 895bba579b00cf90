// search-bench --window: the same search run through the search window,
// offscreen: rows go into its model, pending events are processed per key,
// not high speed, as a user's search would run.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>

#include <algorithm>
#include <vector>

#include "ScratchHive.h"
#include "app/FormUnitSearch.h"

double timeWindowSearch(const std::string& term, int mode, int runs, long& rows) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char name[] = "search-bench";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  TformSearch form;
  form.ShowSearch(platform::HKEY_LOCAL_MACHINE, QStringLiteral("\\") + QString::fromLatin1(benchsupport::kMountName),
                  rvDefault);
  form.rbRangeKey->setChecked(true);
  form.cbSearchStyle->setCurrentIndex(mode);
  for (QCheckBox* box : {form.cbFocusKeys, form.cbFocusValues, form.cbFocusData, form.cbIgnoreCase,
                         form.cbDataTypeStrings, form.cbDataTypeNumerics, form.cbDataTypeBinary})
    box->setChecked(true);
  form.cbHighSpeed->setChecked(false);
  form.cbHex->setChecked(false);
  form.editSearchTerm->setText(QString::fromStdString(term));
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    QElapsedTimer timer;
    timer.start();
    form.aSearchStartExecute();
    times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e9);
    rows = form.resultsModel()->count();
  }
  std::sort(times.begin(), times.end());
  const std::size_t n = times.size();
  return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}
