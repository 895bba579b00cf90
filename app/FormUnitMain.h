#pragma once

#include <QMainWindow>

// The program's main window. For now an empty frame titled "Hivescope"; the key
// tree, value list and the pages come with their own units.
class TformMain : public QMainWindow {
  Q_OBJECT
public:
  explicit TformMain(QWidget* parent = nullptr);
};
