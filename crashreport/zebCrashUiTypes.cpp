#include "crashreport/zebCrashUiTypes.h"

#include <algorithm>
#include <charconv>

namespace zeb {

const std::vector<std::string_view> kCrashUiSettingNames{
    "TitleBar",       "ExceptMsg",      "FrozenMsg",     "SendBtnTxt",     "SaveBtnTxt",    "PrintBtnTxt",
    "ShowBtnTxt",     "ContinueBtnTxt", "RestartBtnTxt", "CloseBtnTxt",    "OkBtnTxt",      "DetailsBtnTxt",
    "SendBtnVis",     "SaveBtnVis",     "PrintBtnVis",   "ShowBtnVis",     "ContinueBtnVis", "RestartBtnVis",
    "CloseBtnVis",    "FocusedBtn",     "UglyBtns",      "AutoShowBugRep", "AutoContinue",  "AutoRestart",
    "AutoClose",      "AutoDelay",      "SendInBackgr",  "BugRepFile",     "PlWaitTitle",   "PlWaitText",
    "SendBoxTitle",   "SendAssis",      "SaveAssis",     "PrintAssis",     "Assistant1",    "Assistant2",
    "Assistant3",     "Assistant4",     "Assistant5",    "Assistant6",     "Assistant7",    "Assistant8",
    "Assistant9",     "MailFrom",
};

std::string ReportPlainText(const CrashUiReport& report) {
  if (!report.text.empty()) return report.text;
  std::size_t longest = 0;
  for (const auto& field : report.header) longest = std::max(longest, field.first.size());
  std::string out;
  for (const auto& [name, content] : report.header)
    out += name + std::string(longest + 1 - name.size(), ' ') + ": " + content + "\r\n";
  for (const auto& [name, content] : report.sections) out += "\r\n" + name + ":\r\n" + content + "\r\n";
  return out;
}

void CrashUiSettings::Set(std::string_view name, std::string value) {
  for (auto& [key, text] : entries_)
    if (key == name) {
      text = std::move(value);
      return;
    }
  entries_.emplace_back(std::string(name), std::move(value));
}

std::string CrashUiSettings::Text(std::string_view name) const {
  for (const auto& [key, text] : entries_)
    if (key == name) return text;
  return {};
}

bool CrashUiSettings::Has(std::string_view name) const {
  for (const auto& entry : entries_)
    if (entry.first == name) return true;
  return false;
}

bool CrashUiSettings::Bool(std::string_view name) const {
  const std::string text = Text(name);
  return text == "1" || text == "true";
}

std::int32_t CrashUiSettings::Int(std::string_view name) const {
  const std::string text = Text(name);
  std::int32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace zeb
