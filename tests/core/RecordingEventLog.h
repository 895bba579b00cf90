#pragma once

// An event-log sink that keeps what it is given, set for its lifetime.

#include <cstdint>
#include <string>
#include <vector>

#include "core/bwlFFEventLogWindows.h"

struct RecordedEvent {
  std::uint16_t type = 0;
  std::uint16_t category = 0;
  std::uint32_t eventId = 0;
  std::string source, text;
};

class RecordingEventLog final : public EventLogSink {
public:
  RecordingEventLog() { SetEventLogSink(this); }
  ~RecordingEventLog() override { SetEventLogSink(nullptr); }
  RecordingEventLog(const RecordingEventLog&) = delete;
  RecordingEventLog& operator=(const RecordingEventLog&) = delete;

  bool Write(std::uint16_t type, std::uint16_t category, std::uint32_t eventId, const std::string& source,
             const std::string& text) override {
    events.push_back({type, category, eventId, source, text});
    return true;
  }

  std::vector<RecordedEvent> events;
};
