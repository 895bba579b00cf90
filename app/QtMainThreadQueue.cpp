#include "app/QtMainThreadQueue.h"

void QtMainThreadQueue::Queue(std::function<void()> call) {
  QMetaObject::invokeMethod(
      this, [call = std::move(call)] { call(); }, Qt::QueuedConnection);
}
