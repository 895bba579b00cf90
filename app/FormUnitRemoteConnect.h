#pragma once

// The window in which the user names the computer whose registry the main
// window connects to; "&Search" fills its list from the network neighbourhood.

#include <QDialog>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/NetworkBrowser.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

// The neighbourhood's names as the list offers them: "WORKGROUP (PC1)" is
// "\\PC1", "pc2" is "\\pc2", sorted; each appended to `list` unless it holds
// the name already in any case.
void MergeNeighborhoodNames(QStringList& list, std::vector<std::string> names);

class TformRemoteConnect : public QDialog {
  Q_OBJECT
public:
  using BrowserFactory = std::function<std::unique_ptr<platform::NetworkBrowser>()>;
  // Without a factory the search asks the program's mDNS browser.
  explicit TformRemoteConnect(QWidget* parent = nullptr, BrowserFactory browsers = {});

  void bnSearchClick();

  QLabel* lblCaption = nullptr;
  QComboBox* cbRemoteName = nullptr;
  QPushButton* bnSearch = nullptr;
  QProgressBar* aniSearch = nullptr;
  QLabel* lblNote = nullptr;
  QPushButton* bnOK = nullptr;
  QPushButton* bnCancel = nullptr;

private:
  BrowserFactory FBrowsers;
};
