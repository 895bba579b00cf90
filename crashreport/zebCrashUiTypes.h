#pragma once

// What the crash-report windows show, as plain data: the bug report as its
// header fields and sections, and the settings the windows read as texts.
// The failing process fills these and sends them to the crash-UI process;
// tests fill them directly.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeb {

// Name and content pairs in report order.
using ReportFieldList = std::vector<std::pair<std::string, std::string>>;

struct CrashUiReport {
  ReportFieldList header;
  ReportFieldList sections;
  bool complete = false;
  std::string text;  // the report's text as composed; empty when not sent
};

// The report's text as the failing process composed it, or else put
// together from its header (names padded to one more than the longest) and
// sections.
std::string ReportPlainText(const CrashUiReport& report);

// The settings a window reads, by name, each as its text ("0"/"1" for
// booleans, decimal for integers). A name that is missing reads as empty,
// false or 0.
class CrashUiSettings {
public:
  void Set(std::string_view name, std::string value);
  void SetBool(std::string_view name, bool value) { Set(name, value ? "1" : "0"); }
  void SetInt(std::string_view name, std::int64_t value) { Set(name, std::to_string(value)); }
  std::string Text(std::string_view name) const;
  bool Bool(std::string_view name) const;
  std::int32_t Int(std::string_view name) const;
  bool Has(std::string_view name) const;
  const ReportFieldList& Entries() const { return entries_; }

private:
  ReportFieldList entries_;
};

// The settings the crash-report windows read; the failing process sends
// these of the exception's settings.
extern const std::vector<std::string_view> kCrashUiSettingNames;

// The facts of one exception as far as the windows need them.
struct CrashUiFacts {
  std::uint8_t kind = 0;      // 1: the application is frozen
  bool canContinue = true;
  std::string message;        // the exception's message
  std::string className;      // its class name
  std::string programName;    // the program file's name without folder and extension
  std::uint8_t showSetting = 0;  // 0 full box, 1 assistant, 2 simple box with details, 3 simple box
  bool beep = false;
  bool attachScreenshot = false;
  std::string screenshotFile;  // a BMP of the screenshot in the temporary folder; empty when none
  CrashUiSettings settings;
};

}  // namespace zeb
