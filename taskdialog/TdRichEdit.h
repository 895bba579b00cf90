#pragma once

// The read-only text of the dialog's footer details. With ShowLinks, web and
// mail addresses in its plain text ("http://", "https://", "mailto:" and
// "www." ones) are shown as links; a clicked link goes to OnLinkClicked and,
// unless handled there, to the link opener, which opens only web and mail
// addresses.

#include <QByteArray>
#include <QString>
#include <QTextBrowser>

#include "taskdialog/TdRtfReader.h"

#include <functional>
#include <utility>
#include <vector>

// The [start, end) ranges of the addresses in Text.
std::vector<std::pair<qsizetype, qsizetype>> TdFindLinks(QStringView Text);

class TTdRichEdit : public QTextBrowser {
  Q_OBJECT
 public:
  explicit TTdRichEdit(QWidget* Parent = nullptr);

  // Shows Text as plain text, its addresses as links while ShowLinks holds.
  void setDetails(const QString& Text);
  // Shows the rich text of Rtf with its bold, italic and underline; details()
  // is then its plain text.
  void setRtfDetails(const QByteArray& Rtf);
  QString details() const { return FText; }
  bool showLinks() const { return FShowLinks; }
  void setShowLinks(bool ShowLinks);

  std::function<void(TTdRichEdit* Sender, const QString& Link, bool& Handled)> OnLinkClicked;

 protected:
  virtual void DoLinkClicked(const QString& Link);

 private:
  void fill();

  QString FText;
  std::vector<TdRtfRun> FRuns;  // the rich text shown, when there is one
  bool FRich = false;
  bool FShowLinks = true;
};
