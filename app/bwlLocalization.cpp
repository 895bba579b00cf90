#include "app/bwlLocalization.h"

#include <QString>

#include "app/IniFile.h"
#include "platform/Text.h"

namespace {

// The key of a "key=value" line, or the whole line when it has no "=".
std::string_view lineKey(std::string_view line) {
  const auto eq = line.find('=');
  return eq == std::string_view::npos ? line : line.substr(0, eq);
}

std::string_view lineValue(std::string_view line) {
  const auto eq = line.find('=');
  return eq == std::string_view::npos ? std::string_view{} : line.substr(eq + 1);
}

bool findValue(const std::vector<std::string>& lines, std::string_view key, std::string& out) {
  for (const auto& line : lines) {
    if (line.find('=') == std::string::npos) continue;
    if (sameText(lineKey(line), key)) {
      out = std::string(lineValue(line));
      return true;
    }
  }
  return false;
}

}  // namespace

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string unescapeMessageText(std::string_view text) {
  return replaceAll(replaceAll(text, "%0D%0A", "\r\n"), "%%", "%");
}

std::string escapeLanguageText(std::string_view text) {
  return replaceAll(replaceAll(replaceAll(text, "% ", "%% "), "%.", "%%."), "\r\n", "%0D%0A");
}

bool utf8ToActiveCodePage(std::string_view text, std::string& out) {
  // Invalid bytes are a decoding failure the callers fall back from. A valid
  // text goes into the active code page, which need not be UTF-8
  // (HIVESCOPE_CODEPAGE); characters that page lacks become '?'.
  QString wide = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  const QByteArray back = wide.toUtf8();
  if (back.size() != static_cast<qsizetype>(text.size()) ||
      std::string_view(back.constData(), static_cast<std::size_t>(back.size())) != text)
    return false;
  out = platform::wideToAnsi(wide.toStdU16String());
  return true;
}

void TAppTranslator::SetDefaultMessages(const std::pair<const char*, const char*>* pairs, int highIndex) {
  DefaultMessages.clear();
  for (int i = 0; i <= highIndex; ++i)
    DefaultMessages.push_back(std::string(pairs[i].first) + "=" + pairs[i].second);
}

std::string TAppTranslator::GetMessage(std::string_view key) const {
  std::string text;
  if (findValue(Messages, key, text)) return text;
  if (findValue(DefaultMessages, key, text)) return text;
  return {};
}

void TAppTranslator::LoadMessages(const IniFile& ini) {
  const bool fontUtf8 = ini.ReadBool("Main", "FontUTF8", false);
  Messages = ini.ReadSectionValues("Messages");
  for (auto& line : Messages) {
    std::string text = unescapeMessageText(line);
    if (fontUtf8) {
      std::string decoded;
      if (!utf8ToActiveCodePage(text, decoded)) {
        // Unknown key from now on, so the message falls back to English.
        line = "---" + line;
        continue;
      }
      text = std::move(decoded);
    }
    line = std::move(text);
  }
}

void TAppTranslator::SaveDefaultMessages(IniFile& ini) const {
  for (const auto& line : DefaultMessages)
    ini.WriteString("Messages", lineKey(line), escapeLanguageText(lineValue(line)));
}

void TAppTranslator::RunLoadHandlers(IniFile& ini) {
  for (auto& proc : LoadProcs) {
    try {
      proc(ini);
    } catch (...) {
    }
  }
}

void TAppTranslator::RunSaveHandlers(IniFile& ini) {
  for (auto& proc : SaveProcs) {
    try {
      proc(ini);
    } catch (...) {
    }
  }
}

TAppTranslator* AppTranslator() {
  static TAppTranslator translator;
  return &translator;
}
