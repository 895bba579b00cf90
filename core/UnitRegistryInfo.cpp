#include "core/UnitRegistryInfo.h"

#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/LocaleText.h"
#include "platform/Text.h"

namespace {

constexpr std::uint8_t kSignature[4] = {'T', 'P', 'F', '0'};
constexpr std::uint8_t kList = 0x01;
constexpr std::uint8_t kNull = 0x00;
constexpr std::uint8_t kString = 0x06;
constexpr std::uint8_t kLString = 0x0C;
constexpr std::uint8_t kWString = 0x12;
constexpr std::uint8_t kUtf8String = 0x14;
const std::string kItemClass = "TRegistryInfoItem";

// ---- writing --------------------------------------------------------------

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void writeString(std::vector<std::uint8_t>& out, const std::string& text) {
  bool ascii = true;
  for (unsigned char c : text)
    if (c >= 0x80) {
      ascii = false;
      break;
    }
  if (ascii) {
    if (text.size() <= 255) {
      out.push_back(kString);
      out.push_back(static_cast<std::uint8_t>(text.size()));
    } else {
      out.push_back(kLString);
      putU32(out, static_cast<std::uint32_t>(text.size()));
    }
    out.insert(out.end(), text.begin(), text.end());
    return;
  }
  const std::string utf8 = platform::utf16ToWtf8(platform::ansiToWide(text));
  out.push_back(kUtf8String);
  putU32(out, static_cast<std::uint32_t>(utf8.size()));
  out.insert(out.end(), utf8.begin(), utf8.end());
}

// ---- reading --------------------------------------------------------------

// Reads the format from a byte buffer. Every length is checked against what is
// left before anything is allocated or copied.
class Reader {
public:
  explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}

  std::uint8_t peek() const {
    if (pos_ >= in_.size()) throw EReadError("Stream read error");
    return in_[pos_];
  }
  std::uint8_t byte() {
    const std::uint8_t b = peek();
    ++pos_;
    return b;
  }
  std::span<const std::uint8_t> take(std::size_t n) {
    if (n > in_.size() - pos_) throw EReadError("Stream read error");
    auto s = in_.subspan(pos_, n);
    pos_ += n;
    return s;
  }
  std::uint32_t u32() {
    const auto b = take(4);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  }

  void signature() {
    if (in_.size() - pos_ < 4 || std::memcmp(in_.data() + pos_, kSignature, 4) != 0)
      throw EReadError("Invalid stream format");
    pos_ += 4;
  }

  std::string string() {
    const std::uint8_t tag = byte();
    switch (tag) {
      case kString: {
        const auto b = take(byte());
        return std::string(b.begin(), b.end());
      }
      case kLString: {
        const auto b = take(u32());
        return std::string(b.begin(), b.end());
      }
      case kUtf8String: {
        const auto b = take(u32());
        return platform::wideToAnsi(
            platform::wtf8ToUtf16(std::string_view(reinterpret_cast<const char*>(b.data()), b.size())));
      }
      case kWString: {
        const std::uint32_t units = u32();
        if (units > (in_.size() - pos_) / 2) throw EReadError("Stream read error");
        const auto b = take(static_cast<std::size_t>(units) * 2);
        std::u16string wide(units, u'\0');
        for (std::uint32_t i = 0; i < units; ++i)
          wide[i] = static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));
        return platform::wideToAnsi(wide);
      }
      default: throw EReadError("Invalid property value");
    }
  }

private:
  std::span<const std::uint8_t> in_;
  std::size_t pos_ = 0;
};

std::string systemErrorText(int err) { return std::strerror(err); }

}  // namespace

// ---- TRegistryInfoItem ----------------------------------------------------

void TRegistryInfoItem::Assign(const TRegistryInfoItem& source) {
  // A copy takes every field; copying the key alone would hand out notes
  // that silently lost their text, value name and links.
  if (&source == this) return;
  Key = source.Key;
  Value = source.Value;
  Info = source.Info;
  URLs = source.URLs;
}

std::string TRegistryInfoItem::ListText(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

std::vector<std::string> TRegistryInfoItem::SplitText(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t start = i;
    while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
    lines.emplace_back(text, start, i - start);
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
  }
  return lines;
}

// ---- TRegistryInfo --------------------------------------------------------

TRegistryInfoItem& TRegistryInfo::Add() {
  FItems.push_back(std::make_unique<TRegistryInfoItem>());
  return *FItems.back();
}

TRegistryInfoItem& TRegistryInfo::GetItem(int index) { return *FItems.at(static_cast<std::size_t>(index)); }
const TRegistryInfoItem& TRegistryInfo::GetItem(int index) const {
  return *FItems.at(static_cast<std::size_t>(index));
}

void TRegistryInfo::WriteToStream(std::vector<std::uint8_t>& out) const {
  out.insert(out.end(), std::begin(kSignature), std::end(kSignature));
  out.push_back(kList);
  for (const auto& item : FItems) {
    writeString(out, item->GetDisplayName());
    writeString(out, item->Key);
    writeString(out, item->Value);
    writeString(out, TRegistryInfoItem::ListText(item->Info));
    writeString(out, TRegistryInfoItem::ListText(item->URLs));
  }
  out.push_back(kNull);
}

void TRegistryInfo::ReadFromStream(std::span<const std::uint8_t> in) {
  Reader r(in);
  r.signature();
  if (r.byte() != kList) throw EReadError("Invalid property value");
  // Each round consumes at least one byte, so the loop ends with the input.
  while (r.peek() != kNull) {
    if (r.string() != kItemClass) continue;  // not an item: try the next string
    auto item = std::make_unique<TRegistryInfoItem>();
    item->Key = r.string();
    item->Value = r.string();
    item->Info = TRegistryInfoItem::SplitText(r.string());
    item->URLs = TRegistryInfoItem::SplitText(r.string());
    FItems.push_back(std::move(item));
  }
  r.byte();
}

void TRegistryInfo::LoadFromFile(const std::string& fileName) {
  Clear();
  AppendFromFile(fileName);
}

void TRegistryInfo::AppendFromFile(const std::string& fileName) {
  std::error_code ec;
  if (!std::filesystem::exists(fileName, ec)) return;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EFOpenError("Cannot open file \"" + fileName + "\". " + systemErrorText(errno));
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw EFOpenError("Cannot open file \"" + fileName + "\". " + systemErrorText(errno));
  ReadFromStream(bytes);
}

void TRegistryInfo::SaveToFile(const std::string& fileName) const {
  std::vector<std::uint8_t> bytes;
  WriteToStream(bytes);

  // Through a temporary file, so a failed save keeps the old database. The
  // notes are the user's own: a new database is readable by the user alone.
  if (const int err = platform::writeFileAtomically(fileName, std::as_bytes(std::span(bytes)), 0600))
    throw EFCreateError("Cannot create file \"" + fileName + "\". " + systemErrorText(err));
}

TRegistryInfoItem* TRegistryInfo::FindKey(const std::string& keyPath) {
  for (auto& item : FItems)
    if (item->Value.empty() && core::SameTextLocale(item->Key, keyPath)) return item.get();
  return nullptr;
}
