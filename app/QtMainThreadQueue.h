#pragma once

// The core's hand-over to the main thread over Qt's event loop: a queued call
// on an object that lives in the main thread. Calls still queued when the
// object goes are dropped with it.

#include <QObject>

#include "core/MainThreadQueue.h"

class QtMainThreadQueue : public QObject, public MainThreadQueue {
  Q_OBJECT
public:
  // Create in the main thread.
  explicit QtMainThreadQueue(QObject* parent = nullptr) : QObject(parent) {}
  void Queue(std::function<void()> call) override;
};
