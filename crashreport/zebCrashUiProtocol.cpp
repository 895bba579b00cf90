#include "crashreport/zebCrashUiProtocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>

namespace zeb {

namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(std::uint8_t(v >> (8 * k)));
}

std::uint32_t GetU32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void PutText(std::vector<std::uint8_t>& out, std::string_view text) {
  PutU32(out, std::uint32_t(text.size()));
  out.insert(out.end(), text.begin(), text.end());
}

// Reads a text at `pos` of a frame's payload; false when it does not fit.
bool GetText(std::span<const std::uint8_t> payload, std::size_t& pos, std::string& out) {
  if (payload.size() - pos < 4) return false;
  const std::uint32_t length = GetU32(payload.data() + pos);
  pos += 4;
  if (length > payload.size() - pos) return false;
  out.assign(reinterpret_cast<const char*>(payload.data() + pos), length);
  pos += length;
  return true;
}

bool DecodePayload(std::span<const std::uint8_t> payload, CrashUiMessage& message) {
  if (payload.size() < 5) return false;
  message.type = payload[0];
  const std::uint32_t count = GetU32(payload.data() + 1);
  // Every field takes at least 8 bytes.
  if (count > (payload.size() - 5) / 8) return false;
  message.fields.clear();
  message.fields.reserve(count);
  std::size_t pos = 5;
  for (std::uint32_t k = 0; k < count; ++k) {
    std::string name, value;
    if (!GetText(payload, pos, name) || !GetText(payload, pos, value)) return false;
    message.fields.emplace_back(std::move(name), std::move(value));
  }
  return pos == payload.size();
}

}  // namespace

std::string CrashUiMessage::Get(std::string_view name) const {
  for (const auto& [key, value] : fields)
    if (key == name) return value;
  return {};
}

std::int64_t CrashUiMessage::GetInt(std::string_view name) const {
  const std::string text = Get(name);
  std::int64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

bool CrashUiMessage::Has(std::string_view name) const {
  for (const auto& field : fields)
    if (field.first == name) return true;
  return false;
}

std::vector<std::uint8_t> EncodeCrashUiMessage(const CrashUiMessage& message) {
  std::size_t size = 9;
  for (const auto& [name, value] : message.fields) size += 8 + name.size() + value.size();
  std::vector<std::uint8_t> out;
  out.reserve(size);
  PutU32(out, 0);  // the length, filled in below
  out.push_back(message.type);
  PutU32(out, std::uint32_t(message.fields.size()));
  for (const auto& [name, value] : message.fields) {
    PutText(out, name);
    PutText(out, value);
  }
  const std::uint32_t length = std::uint32_t(out.size() - 4);
  for (int k = 0; k < 4; ++k) out[std::size_t(k)] = std::uint8_t(length >> (8 * k));
  return out;
}

void CrashUiDecoder::Feed(std::span<const std::uint8_t> bytes) {
  if (consumed_ > 0 && consumed_ == buffer_.size()) {
    buffer_.clear();
    consumed_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

bool CrashUiDecoder::Next(CrashUiMessage& message) {
  if (broken_) return false;
  const std::size_t available = buffer_.size() - consumed_;
  if (available < 4) return false;
  const std::uint32_t length = GetU32(buffer_.data() + consumed_);
  if (length > kMaxCrashUiFrame || length < 5) {
    broken_ = true;
    return false;
  }
  if (available - 4 < length) return false;
  const std::span<const std::uint8_t> payload(buffer_.data() + consumed_ + 4, length);
  if (!DecodePayload(payload, message)) {
    broken_ = true;
    return false;
  }
  consumed_ += 4 + std::size_t(length);
  if (consumed_ > (1u << 20) && consumed_ * 2 > buffer_.size()) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(consumed_));
    consumed_ = 0;
  }
  return true;
}

namespace {

// Writes frame[done..] by `deadline`; the socket may block or not, each call
// returns at once and the waits are polls.
bool SendRest(int fd, const std::vector<std::uint8_t>& frame, std::size_t done,
              std::chrono::steady_clock::time_point deadline) {
  using Clock = std::chrono::steady_clock;
  while (done < frame.size()) {
    const ssize_t n = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, int(std::min<long long>(left, 1000))) < 0 && errno != EINTR) return false;
      continue;
    }
    if (n <= 0) return false;
    done += std::size_t(n);
  }
  return true;
}

}  // namespace

bool SendCrashUiMessage(int fd, const CrashUiMessage& message, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
  return SendRest(fd, EncodeCrashUiMessage(message), 0, deadline);
}

CrashUiTrySend TrySendCrashUiMessage(int fd, const CrashUiMessage& message, int timeoutMs) {
  const std::vector<std::uint8_t> frame = EncodeCrashUiMessage(message);
  while (true) {
    const ssize_t n = ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return CrashUiTrySend::NoRoom;
    if (n <= 0) return CrashUiTrySend::Failed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    return SendRest(fd, frame, std::size_t(n), deadline) ? CrashUiTrySend::Sent : CrashUiTrySend::Failed;
  }
}

CrashUiRead ReceiveCrashUiMessage(int fd, CrashUiDecoder& decoder, CrashUiMessage& message, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (decoder.Next(message)) return CrashUiRead::Message;
    if (decoder.Broken()) return CrashUiRead::Closed;
    // Past the deadline what is there already is still taken.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, int(std::max<long long>(left, 0)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return CrashUiRead::Closed;
    }
    if (ready == 0) return CrashUiRead::Timeout;
    std::uint8_t buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return CrashUiRead::Closed;
    decoder.Feed({buffer, std::size_t(n)});
  }
}

CrashUiMessage FactsMessage(const CrashUiFacts& facts, bool autoCloseDue, bool autoRestartDue) {
  CrashUiMessage m;
  m.type = kUiFacts;
  m.AddInt("kind", facts.kind);
  m.AddInt("canContinue", facts.canContinue);
  m.Add("message", facts.message);
  m.Add("className", facts.className);
  m.Add("programName", facts.programName);
  m.AddInt("showSetting", facts.showSetting);
  m.AddInt("beep", facts.beep);
  m.Add("screenshot", facts.screenshotFile);
  m.AddInt("attach", facts.attachScreenshot);
  m.AddInt("autoCloseDue", autoCloseDue);
  m.AddInt("autoRestartDue", autoRestartDue);
  for (const auto& [name, value] : facts.settings.Entries()) m.Add("=" + name, value);
  return m;
}

CrashUiFacts FactsFromMessage(const CrashUiMessage& m, bool* autoCloseDue, bool* autoRestartDue) {
  CrashUiFacts facts;
  facts.kind = std::uint8_t(m.GetInt("kind"));
  facts.canContinue = m.GetInt("canContinue") != 0;
  facts.message = m.Get("message");
  facts.className = m.Get("className");
  facts.programName = m.Get("programName");
  facts.showSetting = std::uint8_t(m.GetInt("showSetting"));
  facts.beep = m.GetInt("beep") != 0;
  facts.screenshotFile = m.Get("screenshot");
  facts.attachScreenshot = m.GetInt("attach") != 0;
  if (autoCloseDue) *autoCloseDue = m.GetInt("autoCloseDue") != 0;
  if (autoRestartDue) *autoRestartDue = m.GetInt("autoRestartDue") != 0;
  for (const auto& [name, value] : m.fields)
    if (!name.empty() && name[0] == '=') facts.settings.Set(std::string_view(name).substr(1), value);
  return facts;
}

CrashUiMessage ReportMessage(const CrashUiReport& report, const CrashUiReport* previous) {
  CrashUiMessage m;
  m.type = kUiReport;
  m.AddInt("complete", report.complete);
  m.AddInt("sections", std::int64_t(report.sections.size()));
  if (!report.text.empty() && (!previous || previous->text != report.text)) m.Add("text", report.text);
  for (const auto& [name, value] : report.header) m.Add("H" + name, value);
  for (std::size_t k = 0; k < report.sections.size(); ++k) {
    if (previous && k < previous->sections.size() && previous->sections[k] == report.sections[k]) continue;
    m.Add("S" + std::to_string(k) + ":" + report.sections[k].first, report.sections[k].second);
  }
  return m;
}

void ApplyReportMessage(const CrashUiMessage& m, CrashUiReport& report) {
  report.complete = m.GetInt("complete") != 0;
  const std::int64_t count = m.GetInt("sections");
  if (count < 0 || count > 100000) return;
  if (m.Has("text")) report.text = m.Get("text");
  report.header.clear();
  report.sections.resize(std::size_t(count));
  for (const auto& [name, value] : m.fields) {
    if (name.empty()) continue;
    if (name[0] == 'H') {
      report.header.emplace_back(name.substr(1), value);
    } else if (name[0] == 'S') {
      const std::size_t colon = name.find(':');
      if (colon == std::string::npos) continue;
      std::size_t index = 0;
      const auto [end, ec] = std::from_chars(name.data() + 1, name.data() + colon, index);
      if (ec != std::errc() || end != name.data() + colon || index >= report.sections.size()) continue;
      report.sections[index] = {name.substr(colon + 1), value};
    }
  }
}

CrashUiMessage ShowProgressMessage(const std::string& title, int iconGlyph, bool activate) {
  CrashUiMessage m;
  m.type = kUiProgress;
  m.Add("op", "show");
  m.Add("title", title);
  m.AddInt("icon", iconGlyph);
  m.AddInt("activate", activate);
  return m;
}

CrashUiMessage ProgressMessage(const std::string& op, std::int64_t value, const std::string& text) {
  CrashUiMessage m;
  m.type = kUiProgress;
  m.Add("op", op);
  m.AddInt("value", value);
  m.Add("text", text);
  return m;
}

void AddYield(CrashUiMessage& message, const ReportFieldList& header, const ReportFieldList& sections) {
  for (const auto& [name, value] : header) message.Add("H" + name, value);
  for (const auto& [name, value] : sections) message.Add("S" + name, value);
}

void YieldOf(const CrashUiMessage& message, ReportFieldList& header, ReportFieldList& sections) {
  for (const auto& [name, value] : message.fields) {
    if (name.empty()) continue;
    if (name[0] == 'H') header.emplace_back(name.substr(1), value);
    else if (name[0] == 'S') sections.emplace_back(name.substr(1), value);
  }
}

}  // namespace zeb
