#pragma once

// A delivery's windows in a crash-UI process: its progress window and the
// message that sending did not work. A send the user started in the
// exception dialog and that runs there and then shows them over the dialog's
// own session. A delivery without a window (one on its background thread, or
// the automatic send) gets a crash-UI session of its own, started when it
// first has something to show and ended with the delivery: it may outlive
// the dialog, and it never shares a socket with another thread.

#include <memory>
#include <string>

#include "crashreport/zebSend.h"

namespace zeb {

class CrashUiSession;

class CrashUiDeliveryServices : public DeliveryServices {
public:
  // Over `session`, which the caller keeps running for the whole delivery
  // and uses on the delivering thread only; null: a session of its own for
  // each delivery.
  explicit CrashUiDeliveryServices(CrashUiSession* session = nullptr);
  ~CrashUiDeliveryServices() override;

  std::shared_ptr<DeliveryServices> BeginDelivery() override;
  std::shared_ptr<SendProgress> CreateProgressWindow(const std::string& title) override;
  // A box in the crash-UI process, waiting until the user closed it; on the
  // console when no crash-UI process can be had.
  void ShowSendFailure(const std::string& text) override;

  // The session, started when this object owns one and it is not running
  // yet; null when none can be had.
  CrashUiSession* Session();

private:
  CrashUiSession* borrowed_ = nullptr;
  std::unique_ptr<CrashUiSession> own_;
  bool ownTried_ = false;
  bool perDelivery_ = false;  // the installed object that makes one per delivery
};

}  // namespace zeb
