#pragma once

// The messages between a failing process and its crash-UI process, which
// shows the crash reporter's windows (a process hit by a fatal signal or
// frozen cannot run a GUI thread of its own). A message is a type and a list
// of name/value texts; on the socket each is one frame: a 32-bit
// little-endian length, then the type byte and the fields, every text with
// its 32-bit length. The reader checks every length against the frame and
// the frame against a cap, so a peer that dies in mid-frame or writes
// garbage ends the conversation instead of the reader.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crashreport/zebCrashUiTypes.h"

namespace zeb {

enum CrashUiMessageType : std::uint8_t {
  // From the failing process.
  kUiFacts = 1,         // the exception's facts and settings; shows the dialog
  kUiReport = 2,        // the header and the sections that changed
  kUiProgress = 3,      // an operation on the progress window
  kUiActionDone = 4,    // an action ran: "code", "handled", for save "saved" and "fixed"
  kUiFreezeOver = 5,    // the main thread answered: the dialog closes
  kUiRunAssistant = 6,  // "name": run that assistant and answer kUiAssistantDone
  kUiShowText = 7,      // "title", "text": a message box; answered with kUiTextClosed
  kUiAskSavePath = 8,   // "folder", "file", "title": the save dialog; answered with kUiSavePath
  // From the crash-UI process.
  kUiReady = 20,
  kUiAction = 21,         // "code" and, for send/save/print, the assistant's yield
  kUiAssistantDone = 22,  // "result" and the yield
  kUiDialogClosed = 23,   // the dialog is gone
  kUiTextClosed = 24,
  kUiSavePath = 25,       // "path": the file the user chose, empty when cancelled
  kUiAlive = 26,          // every kCrashUiBeatMs while the windows' event loop runs
};

// The crash-UI process says it is alive once a second, modal windows or not;
// the failing process takes a peer silent for kCrashUiPeerTimeoutSeconds
// (or one that takes no bytes for as long) for a dead one. A user who takes
// long over a dialog is no silence: the beats go on meanwhile.
inline constexpr int kCrashUiBeatMs = 1000;
inline constexpr int kCrashUiPeerTimeoutSeconds = 30;

struct CrashUiMessage {
  std::uint8_t type = 0;
  ReportFieldList fields;

  void Add(std::string name, std::string value) { fields.emplace_back(std::move(name), std::move(value)); }
  void AddInt(std::string name, std::int64_t value) { Add(std::move(name), std::to_string(value)); }
  // The first field of that name; empty when none.
  std::string Get(std::string_view name) const;
  std::int64_t GetInt(std::string_view name) const;
  bool Has(std::string_view name) const;
};

// Frames above this are refused by the reader.
inline constexpr std::uint32_t kMaxCrashUiFrame = 256u << 20;

std::vector<std::uint8_t> EncodeCrashUiMessage(const CrashUiMessage& message);

// Collects bytes and hands out whole messages.
class CrashUiDecoder {
public:
  void Feed(std::span<const std::uint8_t> bytes);
  // False when no whole message is there (or the stream is broken).
  bool Next(CrashUiMessage& message);
  bool Broken() const { return broken_; }

private:
  std::vector<std::uint8_t> buffer_;
  std::size_t consumed_ = 0;
  bool broken_ = false;
};

// Writes a whole frame; false when the peer is gone (no SIGPIPE) or has
// taken none of it for `timeoutMs`. A frame cut short leaves the stream
// broken: the caller ends the conversation then.
bool SendCrashUiMessage(int fd, const CrashUiMessage& message, int timeoutMs = kCrashUiPeerTimeoutSeconds * 1000);

enum class CrashUiTrySend { Sent, NoRoom, Failed };
// Writes a frame only when the socket takes its first bytes at once (NoRoom,
// nothing written, when the peer has not read for a while); the rest then
// follows as SendCrashUiMessage writes it.
CrashUiTrySend TrySendCrashUiMessage(int fd, const CrashUiMessage& message, int timeoutMs);

enum class CrashUiRead { Message, Timeout, Closed };
// Waits at most `timeoutMs` for a whole message; Closed at the end of the
// stream, on an error or on a broken frame.
CrashUiRead ReceiveCrashUiMessage(int fd, CrashUiDecoder& decoder, CrashUiMessage& message, int timeoutMs);

// The facts and the report as messages and back.
CrashUiMessage FactsMessage(const CrashUiFacts& facts, bool autoCloseDue, bool autoRestartDue);
CrashUiFacts FactsFromMessage(const CrashUiMessage& message, bool* autoCloseDue = nullptr,
                              bool* autoRestartDue = nullptr);
// The header in full and the sections that differ from `previous` (all when
// it is null), with the number of sections, so the receiver can merge.
CrashUiMessage ReportMessage(const CrashUiReport& report, const CrashUiReport* previous);
// Merges a report message into `report`.
void ApplyReportMessage(const CrashUiMessage& message, CrashUiReport& report);

// Progress window operations: "show" (its title, the icon's glyph index or
// -1, whether it takes the focus), then "title", "add" (weight, text),
// "clear", "position", "area", "done" and "close".
CrashUiMessage ShowProgressMessage(const std::string& title, int iconGlyph, bool activate);
CrashUiMessage ProgressMessage(const std::string& op, std::int64_t value = 0, const std::string& text = {});

// Header fields ("H" + name) and sections ("S" + name) in a message.
void AddYield(CrashUiMessage& message, const ReportFieldList& header, const ReportFieldList& sections);
void YieldOf(const CrashUiMessage& message, ReportFieldList& header, ReportFieldList& sections);

}  // namespace zeb
