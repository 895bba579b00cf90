#include "crashreport/zebCrashUiDelivery.h"

#include <unistd.h>

#include <vector>

#include "crashreport/zebCrashUiClient.h"

namespace zeb {

namespace {

// The progress of one delivery as the crash-UI process's progress window
// shows it. Its areas are kept here as well: a window of its own session
// starts with them once it is shown, and the delivery reads the current area.
class CrashUiSendProgress final : public SendProgress {
public:
  CrashUiSendProgress(std::shared_ptr<CrashUiDeliveryServices> owner, std::string title)
      : owner_(std::move(owner)), title_(std::move(title)) {}

  void AddArea(std::int64_t weight, const std::string& text) override {
    areas_.emplace_back(weight, text);
    Op("add", weight, text);
  }
  void ClearAreas() override {
    areas_.clear();
    current_ = 0;
    position_ = 0;
    Op("clear");
  }
  void AreaDone() override { SetCurrentArea(current_ + 1); }
  int CurrentArea() const override { return current_; }
  void SetCurrentArea(int index) override {
    if (index == current_ || index < 0 || index > int(areas_.size())) return;
    current_ = index;
    position_ = 0;
    Op("area", index);
  }
  void SetPosition(int permille) override {
    position_ = permille;
    Op("position", permille);
  }
  bool Show(bool activate) override {
    if (shown_) return false;
    session_ = owner_->Session();
    if (!session_) return false;
    shown_ = true;
    // What was set before the window existed.
    session_->ProgressOp("clear");
    for (const auto& [weight, text] : areas_) session_->ProgressOp("add", weight, text);
    if (current_ > 0) session_->ProgressOp("area", current_);
    if (position_ > 0) session_->ProgressOp("position", position_);
    return session_->ShowProgress(title_, kSendGlyph, activate);
  }
  void Close() override {
    if (!shown_) return;
    shown_ = false;
    Op("close");
  }

private:
  static constexpr int kSendGlyph = 0;

  void Op(const char* op, std::int64_t value = 0, const std::string& text = {}) {
    if (shown_ && session_) session_->ProgressOp(op, value, text);
  }

  std::shared_ptr<CrashUiDeliveryServices> owner_;
  std::string title_;
  CrashUiSession* session_ = nullptr;
  std::vector<std::pair<std::int64_t, std::string>> areas_;
  int current_ = 0;
  int position_ = 0;
  bool shown_ = false;
};

}  // namespace

CrashUiDeliveryServices::CrashUiDeliveryServices(CrashUiSession* session)
    : borrowed_(session), perDelivery_(session == nullptr) {}

CrashUiDeliveryServices::~CrashUiDeliveryServices() = default;

std::shared_ptr<DeliveryServices> CrashUiDeliveryServices::BeginDelivery() {
  if (!perDelivery_) return shared_from_this();
  // Each delivery its own session, so that two sends at once never share one.
  auto one = std::make_shared<CrashUiDeliveryServices>();
  one->perDelivery_ = false;
  return one;
}

CrashUiSession* CrashUiDeliveryServices::Session() {
  if (borrowed_) return borrowed_->Running() ? borrowed_ : nullptr;
  if (perDelivery_) return nullptr;
  if (!own_ && !ownTried_) {
    ownTried_ = true;
    auto session = std::make_unique<CrashUiSession>();
    if (session->Start()) own_ = std::move(session);
  }
  return own_ && own_->Running() ? own_.get() : nullptr;
}

std::shared_ptr<SendProgress> CrashUiDeliveryServices::CreateProgressWindow(const std::string& title) {
  return std::make_shared<CrashUiSendProgress>(
      std::static_pointer_cast<CrashUiDeliveryServices>(shared_from_this()), title);
}

void CrashUiDeliveryServices::ShowSendFailure(const std::string& text) {
  if (CrashUiSession* session = Session())
    if (ShowCrashUiText(*session, std::string(), text)) return;
  const std::string line = text + "\n";
  [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, line.data(), line.size());
}

}  // namespace zeb
