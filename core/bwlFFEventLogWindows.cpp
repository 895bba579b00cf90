#include "core/bwlFFEventLogWindows.h"

#include <syslog.h>

#include <mutex>

#include "core/bwlRegistry.h"

namespace {

constexpr std::uint32_t kEventId = 100;

int syslogPriority(std::uint16_t type) {
  if (type == EVENTLOG_ERROR_TYPE) return LOG_ERR;
  if (type == EVENTLOG_WARNING_TYPE) return LOG_WARNING;
  return LOG_INFO;
}

class SyslogSink final : public EventLogSink {
public:
  bool Write(std::uint16_t type, std::uint16_t, std::uint32_t, const std::string& source,
             const std::string& text) override {
    // The text's lines are one event: its CR LF pairs become plain line
    // feeds, which the journal keeps inside one message.
    std::string message;
    message.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      message += text[i];
    }
    // openlog keeps the ident pointer, so it is opened and closed around the
    // one message, under a lock against other threads' events.
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    ::openlog(source.c_str(), LOG_PID, LOG_USER);
    ::syslog(syslogPriority(type), "%s", message.c_str());
    ::closelog();
    return true;
  }
};

SyslogSink gSyslog;
EventLogSink* gSink = &gSyslog;

}  // namespace

void SetEventLogSink(EventLogSink* sink) { gSink = sink ? sink : &gSyslog; }

bool WriteEventLogEntry(std::uint16_t type, std::uint16_t category, const std::string& source,
                        const std::string& text) {
  try {
    return gSink->Write(type, category, kEventId, source, text);
  } catch (...) {
    return false;
  }
}

bool RegisterEventLogSource(const std::string& log, const std::string& source, const std::string& messageFile,
                            std::uint32_t typesSupported, std::uint32_t categoryCount) {
  try {
    TMyRegistry64 registry;
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + log + "\\" + source + "\\", true))
      return false;
    try {
      registry.WriteExpandString("EventMessageFile", messageFile);
      registry.WriteCardinal("TypesSupported", typesSupported);
      if (categoryCount != 0) {
        registry.WriteExpandString("CategoryMessageFile", messageFile);
        registry.WriteCardinal("CategoryCount", categoryCount);
      }
    } catch (...) {
      // The key is there; a value that cannot be written leaves it as it is.
    }
    registry.CloseKey();
    return true;
  } catch (...) {
    return false;
  }
}
