#include "crashreport/zebExceptResource.h"

#include <cstdio>

#include "crashreport/zebCrypt.h"
#include "crashreport/zebHook.h"
#include "crashreport/zebStrings.h"
#include "platform/Text.h"

namespace zeb {

SettingEntry SettingEntry::Bool(std::string name, bool value) {
  SettingEntry e;
  e.name = std::move(name);
  e.kind = SettingKind::Bool;
  e.boolValue = value;
  return e;
}

SettingEntry SettingEntry::Int(std::string name, std::int32_t value) {
  SettingEntry e;
  e.name = std::move(name);
  e.kind = SettingKind::Int;
  e.intValue = value;
  return e;
}

SettingEntry SettingEntry::Text(std::string name, std::string value) {
  SettingEntry e;
  e.name = std::move(name);
  e.kind = SettingKind::Text;
  e.textValue = std::move(value);
  return e;
}

namespace {

constexpr std::string_view kHeader = "TPF0\x0aTZebExcept\x09zebExcept";

Hook<SettingsErrorSink>& sink() {
  static auto& hook = *new Hook<SettingsErrorSink>;
  return hook;
}

// Reads little-endian fields; every read checks the bytes left first.
class Reader {
public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool byte(std::uint8_t& out) {
    if (pos_ >= bytes_.size()) return false;
    out = bytes_[pos_++];
    return true;
  }
  bool word(std::uint32_t& out, std::size_t size) {
    if (size > bytes_.size() - pos_) return false;
    out = 0;
    for (std::size_t i = 0; i < size; ++i) out |= std::uint32_t(bytes_[pos_ + i]) << (8 * i);
    pos_ += size;
    return true;
  }
  bool text(std::size_t length, std::string& out) {
    if (length > bytes_.size() - pos_) return false;
    out.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), length);
    pos_ += length;
    return true;
  }
  bool wide(std::size_t units, std::string& out) {
    if (units > (bytes_.size() - pos_) / 2) return false;
    std::u16string w(units, u'\0');
    for (std::size_t i = 0; i < units; ++i)
      w[i] = char16_t(bytes_[pos_ + 2 * i] | bytes_[pos_ + 2 * i + 1] << 8);
    pos_ += 2 * units;
    out = platform::utf16ToWtf8(w);
    return true;
  }

private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

void invalid(std::uint8_t type) { ReportSettingsError("Internal error: Invalid settings resource ($" + HexText(type) + ")."); }

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}

}  // namespace

void SetSettingsErrorSink(SettingsErrorSink s) { sink().Set(std::move(s)); }

void ReportSettingsError(const std::string& text) {
  if (const SettingsErrorSink s = sink().Get())
    s(text, "zebExcept");
  else
    std::fprintf(stderr, "zebExcept: %s\n", text.c_str());
}

bool ParseSettingsResource(std::span<const std::uint8_t> bytes, std::vector<SettingEntry>& entries) {
  if (bytes.size() < kHeader.size() ||
      std::string_view(reinterpret_cast<const char*>(bytes.data()), kHeader.size()) != kHeader)
    return false;
  Reader r(bytes.subspan(kHeader.size()));
  for (;;) {
    std::uint8_t nameLength = 0;
    // A resource that ends where the zero name length should be is cut short.
    if (!r.byte(nameLength)) {
      ReportSettingsError("Internal error: Invalid settings resource (end of data).");
      return true;
    }
    if (nameLength == 0) return true;
    SettingEntry e;
    std::uint8_t type = 0;
    if (!r.text(nameLength, e.name) || !r.byte(type)) {
      ReportSettingsError("Internal error: Invalid settings resource (end of data).");
      return true;
    }
    std::uint32_t v = 0;
    bool ok = true;
    switch (type) {
      case 2:
        ok = r.word(v, 1);
        e.kind = SettingKind::Int;
        e.intValue = std::int8_t(v);
        break;
      case 3:
        ok = r.word(v, 2);
        e.kind = SettingKind::Int;
        e.intValue = std::int16_t(v);
        break;
      case 4:
        ok = r.word(v, 4);
        e.kind = SettingKind::Int;
        e.intValue = std::int32_t(v);
        break;
      case 6:
        ok = r.word(v, 1) && r.text(v, e.textValue);
        break;
      case 8:
      case 9:
        e.kind = SettingKind::Bool;
        e.boolValue = type == 9;
        break;
      case 12:
        ok = r.word(v, 4) && r.text(v, e.textValue);
        break;
      case 18:
        ok = r.word(v, 4) && r.wide(v, e.textValue);
        break;
      default:
        invalid(type);
        return true;
    }
    if (!ok) {
      invalid(type);
      return true;
    }
    entries.push_back(std::move(e));
  }
}

std::vector<std::uint8_t> WriteSettingsResource(std::span<const SettingEntry> entries) {
  std::vector<std::uint8_t> out(kHeader.begin(), kHeader.end());
  for (const SettingEntry& e : entries) {
    const std::size_t nameLength = std::min<std::size_t>(e.name.size(), 255);
    if (nameLength == 0) continue;
    out.push_back(std::uint8_t(nameLength));
    out.insert(out.end(), e.name.begin(), e.name.begin() + nameLength);
    switch (e.kind) {
      case SettingKind::Bool:
        out.push_back(e.boolValue ? 9 : 8);
        break;
      case SettingKind::Int:
        if (e.intValue >= -128 && e.intValue <= 127) {
          out.push_back(2);
          out.push_back(std::uint8_t(e.intValue));
        } else if (e.intValue >= -32768 && e.intValue <= 32767) {
          out.push_back(3);
          out.push_back(std::uint8_t(e.intValue));
          out.push_back(std::uint8_t(e.intValue >> 8));
        } else {
          out.push_back(4);
          put32(out, std::uint32_t(e.intValue));
        }
        break;
      case SettingKind::Text:
        if (e.textValue.size() <= 255) {
          out.push_back(6);
          out.push_back(std::uint8_t(e.textValue.size()));
        } else {
          out.push_back(12);
          put32(out, std::uint32_t(e.textValue.size()));
        }
        out.insert(out.end(), e.textValue.begin(), e.textValue.end());
        break;
    }
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

std::string EncryptStoredPassword(std::string_view plain, std::string_view server, std::string_view account) {
  if (plain.empty() || server.empty() || account.empty()) return {};
  // Each deciphering pass removes one padding; counter mode is its own
  // inverse, so enciphering is the same pass on padded text.
  auto pass = [](std::string text, std::string_view key, std::uint32_t counter) {
    const std::size_t pad = 8 - text.size() % 8;
    text.append(pad, char(pad));
    CryptBlocks(std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), text.size()), true, false,
                counter, 0, key);
    return text;
  };
  const std::string inner = pass(std::string(plain), account, 0x3A5C7E09);
  return Base64EncodeText(pass(inner, server, 0x6D2E91B4));
}

std::vector<SettingEntry> ParseSettingsTable(std::string_view table, std::string* error) {
  std::vector<SettingEntry> entries;
  auto valueOf = [&](std::string_view name) -> std::string {
    for (const SettingEntry& e : entries)
      if (e.name == name) return e.textValue;
    return {};
  };
  std::size_t lineNumber = 0;
  while (!table.empty()) {
    ++lineNumber;
    const std::size_t end = table.find('\n');
    std::string line(table.substr(0, end));
    table = end == std::string_view::npos ? std::string_view() : table.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string trimmed = TrimmedCopy(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    const std::size_t nameEnd = trimmed.find(' ');
    const std::size_t kindEnd = nameEnd == std::string::npos ? std::string::npos : trimmed.find(' ', nameEnd + 1);
    const std::string name = trimmed.substr(0, nameEnd);
    const std::string kind =
        nameEnd == std::string::npos ? std::string() : trimmed.substr(nameEnd + 1, kindEnd - nameEnd - 1);
    std::string value = kindEnd == std::string::npos ? std::string() : trimmed.substr(kindEnd + 1);
    if (kind == "bool" && (value == "true" || value == "false")) {
      entries.push_back(SettingEntry::Bool(name, value == "true"));
    } else if (kind == "int" && !value.empty() &&
               value.find_first_not_of("-0123456789") == std::string::npos) {
      entries.push_back(SettingEntry::Int(name, std::int32_t(std::stol(value))));
    } else if (kind == "text") {
      ReplaceAll(value, "\\n", "\r\n", false, false);
      entries.push_back(SettingEntry::Text(name, value));
    } else if (kind == "password" && name.size() > 8 && name.ends_with("Password")) {
      const std::string prefix = name.substr(0, name.size() - 8);
      entries.push_back(
          SettingEntry::Text(name, EncryptStoredPassword(value, valueOf(prefix + "Server"), valueOf(prefix + "Account"))));
    } else {
      if (error) *error = "line " + std::to_string(lineNumber) + ": " + line;
      return entries;
    }
  }
  return entries;
}

extern const unsigned char kCompiledSettingsResource[];
extern const std::size_t kCompiledSettingsResourceSize;

std::span<const std::uint8_t> CompiledSettingsResource() {
  return {kCompiledSettingsResource, kCompiledSettingsResourceSize};
}

__attribute__((weak)) std::span<const std::uint8_t> ProgramSettingsResource() { return CompiledSettingsResource(); }

}  // namespace zeb
