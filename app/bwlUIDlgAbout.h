#pragma once

// The about box: the program's name, version, description, copyright and the
// translators' credits from its version resource, and the update check: a
// small answer file fetched from the update server says the newest version
// and where to get it; a download is saved on the desktop, never run.

#include <QDialog>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

class QLabel;
class QPushButton;

// The answer file's name on the update server; empty: no update check.
extern QString UpdateFileName;

// The update server (host[:port]) from HIVESCOPE_UPDATE_SERVER; empty when
// none is set, and then no update check is offered.
QString UpdateServer();

// Compares two versions piece by piece between the dots: pieces that are both
// numbers by value (1.10 is newer than 1.6), others as text with case
// ignored; a missing piece is empty. <0, 0 or >0 as `a` is older, the same or
// newer.
int CompareVersionTexts(const QString& a, const QString& b);

class TdlgAbout : public QDialog {
  Q_OBJECT
public:
  explicit TdlgAbout(QWidget* parent = nullptr);

  // The texts from the program file's version resource; without one the
  // design texts stay.
  void FillFromVersionResource();
  // The same from "Name=Value" lines of a version resource's strings.
  void FillFromVersionStrings(const std::vector<std::string>& lines);
  // The answer file's name; "Updates" shows when it and a server are set.
  void SetUpdateFile(const QString& fileName);

  void CheckForUpdates();
  void bnTranslationsClick();

  QString FTitle;
  QString FUpdateFile;
  QString FOwnVersion;
  bool FCheckAtShow = false;
  QStringList FTranslators;

  QLabel* imgIcon = nullptr;
  QLabel* imgBWLLogo = nullptr;
  QLabel* labelProduct = nullptr;
  QLabel* labelVersion = nullptr;
  QLabel* labelDescription = nullptr;
  QLabel* labelLegal = nullptr;
  QPushButton* bnOk = nullptr;
  QPushButton* bnTranslations = nullptr;
  QPushButton* bnUpdates = nullptr;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void downloadUpdate(const QString& url, const QString& fileName);
  bool checkedAtShow_ = false;
};

// Makes the box, fills it, shows it modally and frees it. An empty title
// shows the product name.
void ShowAboutBox(const QString& title, bool checkAtShow, QWidget* parent = nullptr);
