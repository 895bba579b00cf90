#pragma once

// The system event log. On this system that is syslog: an event is one
// message whose ident is the event source. Event sources are still
// registered under HKEY_LOCAL_MACHINE, where the program's siblings look for
// them.

#include <cstdint>
#include <string>

// Event types, as the event log numbers them.
inline constexpr std::uint16_t EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr std::uint16_t EVENTLOG_WARNING_TYPE = 0x0002;
inline constexpr std::uint16_t EVENTLOG_INFORMATION_TYPE = 0x0004;

// Where events go. The default sink writes to syslog; tests put a recorder
// in its place.
class EventLogSink {
public:
  virtual ~EventLogSink() = default;
  // False when the event could not be written.
  virtual bool Write(std::uint16_t type, std::uint16_t category, std::uint32_t eventId, const std::string& source,
                     const std::string& text) = 0;
};

// The sink events go to now; null gives the syslog sink back. The caller
// keeps the sink alive while it is set.
void SetEventLogSink(EventLogSink* sink);

// Writes one event with the identifier 100 and text as its one string. The
// result tells whether it was written.
bool WriteEventLogEntry(std::uint16_t type, std::uint16_t category, const std::string& source,
                        const std::string& text);

// Opens or creates "SYSTEM\CurrentControlSet\Services\EventLog\<log>\<source>"
// under HKEY_LOCAL_MACHINE and writes "EventMessageFile" and "TypesSupported"
// into it, and, when categoryCount is not 0, "CategoryMessageFile" and
// "CategoryCount". True when the key opened (a failed value write does not
// change that).
bool RegisterEventLogSource(const std::string& log, const std::string& source, const std::string& messageFile,
                            std::uint32_t typesSupported, std::uint32_t categoryCount);
