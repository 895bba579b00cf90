#include "taskdialog/TdRtfReader.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "platform/Text.h"

namespace {

constexpr unsigned kDefaultCodePage = 1252;
constexpr std::size_t kMaxWordLength = 32;
constexpr std::size_t kMaxDigits = 10;

// The format and reading state a group inherits from its parent and drops
// at its closing brace.
struct GroupState {
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool Skip = false;    // inside a destination whose text is not shown
  int UnicodeSkip = 1;  // fallback characters after each \u
};

bool isLetter(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

int hexValue(std::uint8_t c) {
  if (isDigit(c))
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// Destinations that hold no text of the document.
bool isSkippedDestination(std::string_view Word) {
  static constexpr std::string_view kSkipped[] = {
      "author",      "buptim",    "colortbl",   "comment",  "creatim",   "datastore",
      "doccomm",     "falt",      "fldinst",    "fonttbl",  "footer",    "footerf",
      "footerl",     "footerr",   "footnote",   "generator", "header",   "headerf",
      "headerl",     "headerr",   "info",       "keywords", "latentstyles", "listoverridetable",
      "listtable",   "object",    "operator",   "pict",     "printim",   "revtbl",
      "revtim",      "rsidtbl",   "stylesheet", "subject",  "themedata", "title",
      "xmlnstbl",    "colorschememapping", "filetbl", "pgdsctbl", "mmathPr", "bkmkstart",
      "bkmkend",     "nonshppict", "shp",       "shpinst",  "objdata",   "txe",
  };
  return std::find(std::begin(kSkipped), std::end(kSkipped), Word) != std::end(kSkipped);
}

class RtfReader {
 public:
  explicit RtfReader(std::span<const std::uint8_t> Bytes)
      : FBytes(Bytes.first(std::min(Bytes.size(), TdRtfMaxInput))) {}

  std::vector<TdRtfRun> read() {
    while (FPos < FBytes.size()) {
      const std::uint8_t c = FBytes[FPos++];
      switch (c) {
        case '{':
          openGroup();
          break;
        case '}':
          closeGroup();
          break;
        case '\\':
          controlWord();
          break;
        case '\r':
        case '\n':
          break;
        default:
          literal(c);
      }
    }
    flushBytes();
    return std::move(FRuns);
  }

 private:
  GroupState& state() { return FStates.back(); }

  void openGroup() {
    FPendingStar = false;
    FFallback = 0;
    // Past the depth kept, a group only counts so its brace can close.
    if (FStates.size() < TdRtfMaxDepth)
      FStates.push_back(FStates.back());
    else
      ++FOverflow;
    FGroupStart = true;
  }

  void closeGroup() {
    FPendingStar = false;
    FFallback = 0;
    FGroupStart = false;
    if (FOverflow > 0) {
      --FOverflow;
      return;
    }
    flushBytes();
    // The outermost state stays: a stray brace does not end the reading.
    if (FStates.size() > 1)
      FStates.pop_back();
  }

  void controlWord() {
    const bool groupStart = std::exchange(FGroupStart, false);
    if (FPos >= FBytes.size())
      return;
    const std::uint8_t c = FBytes[FPos];
    if (!isLetter(c)) {
      ++FPos;
      controlSymbol(c);
      return;
    }
    std::string word;
    while (FPos < FBytes.size() && isLetter(FBytes[FPos])) {
      if (word.size() < kMaxWordLength)
        word.push_back(char(FBytes[FPos]));
      ++FPos;
    }
    bool hasParam = false;
    bool negative = false;
    std::int64_t param = 0;
    if (FPos < FBytes.size() && FBytes[FPos] == '-' && FPos + 1 < FBytes.size() &&
        isDigit(FBytes[FPos + 1])) {
      negative = true;
      ++FPos;
    }
    std::size_t digits = 0;
    while (FPos < FBytes.size() && isDigit(FBytes[FPos])) {
      if (digits++ < kMaxDigits)
        param = param * 10 + (FBytes[FPos] - '0');
      hasParam = true;
      ++FPos;
    }
    if (negative)
      param = -param;
    // One space ends the word and belongs to it.
    if (FPos < FBytes.size() && FBytes[FPos] == ' ')
      ++FPos;

    const bool star = std::exchange(FPendingStar, false);
    if (FFallback > 0) {
      --FFallback;
      return;
    }
    // A \* destination is one the reader may not know: it is skipped as
    // well. Past the depth kept there is no group of its own to mark.
    if (groupStart && (star || isSkippedDestination(word)) && FOverflow == 0) {
      flushBytes();
      state().Skip = true;
      return;
    }
    keyword(word, hasParam, param);
  }

  void keyword(const std::string& Word, bool HasParam, std::int64_t Param) {
    const bool on = !HasParam || Param != 0;
    if (Word == "b") {
      setFormat(&GroupState::Bold, on);
    } else if (Word == "i") {
      setFormat(&GroupState::Italic, on);
    } else if (Word == "ul") {
      setFormat(&GroupState::Underline, on);
    } else if (Word == "ulnone") {
      setFormat(&GroupState::Underline, false);
    } else if (Word == "plain") {
      setFormat(&GroupState::Bold, false);
      setFormat(&GroupState::Italic, false);
      setFormat(&GroupState::Underline, false);
    } else if (Word == "par" || Word == "sect") {
      emit(u'\n');
    } else if (Word == "line") {
      emit(u'\u2028');
    } else if (Word == "tab") {
      emit(u'\t');
    } else if (Word == "emdash") {
      emit(u'\u2014');
    } else if (Word == "endash") {
      emit(u'\u2013');
    } else if (Word == "bullet") {
      emit(u'\u2022');
    } else if (Word == "lquote") {
      emit(u'\u2018');
    } else if (Word == "rquote") {
      emit(u'\u2019');
    } else if (Word == "ldblquote") {
      emit(u'\u201C');
    } else if (Word == "rdblquote") {
      emit(u'\u201D');
    } else if (Word == "u" && HasParam) {
      // Numbers above 32767 are written negative.
      std::int64_t code = Param;
      if (code < 0)
        code += 65536;
      if (code >= 0 && code <= 0xFFFF)
        emit(char16_t(code));
      FFallback = state().UnicodeSkip;
    } else if (Word == "uc" && HasParam) {
      state().UnicodeSkip = int(std::clamp<std::int64_t>(Param, 0, 16));
    } else if (Word == "ansicpg" && HasParam && Param > 0 && Param <= 65535) {
      flushBytes();
      FCodePage = unsigned(Param);
    }
  }

  void controlSymbol(std::uint8_t c) {
    FPendingStar = false;
    if (c == '*') {
      FPendingStar = true;
      // \* sits at a group's start, before its destination word.
      FGroupStart = true;
      return;
    }
    if (c == '\'') {
      int value = -1;
      if (FPos + 1 < FBytes.size()) {
        const int high = hexValue(FBytes[FPos]);
        const int low = hexValue(FBytes[FPos + 1]);
        if (high >= 0 && low >= 0) {
          value = high * 16 + low;
          FPos += 2;
        }
      }
      if (value < 0)
        return;
      if (FFallback > 0) {
        --FFallback;
        return;
      }
      if (!state().Skip)
        FPendingBytes.push_back(char(value));
      return;
    }
    if (FFallback > 0) {
      --FFallback;
      return;
    }
    switch (c) {
      case '\\':
      case '{':
      case '}':
        literal(c);
        break;
      case '~':
        emit(u'\u00A0');
        break;
      case '_':
        emit(u'\u2011');
        break;
      case '\r':
      case '\n':
        emit(u'\n');
        break;
      default:
        break;  // \- and the symbols of no text
    }
  }

  void literal(std::uint8_t c) {
    FGroupStart = false;
    if (FFallback > 0) {
      --FFallback;
      return;
    }
    if (state().Skip)
      return;
    if (c == '\t') {
      emit(u'\t');
      return;
    }
    if (c < 0x20)
      return;
    // Bytes wait for their neighbours: one character of a double-byte code
    // page may span two.
    FPendingBytes.push_back(char(c));
  }

  void setFormat(bool GroupState::*Member, bool On) {
    if (state().*Member == On)
      return;
    flushBytes();
    state().*Member = On;
  }

  void emit(char16_t c) {
    if (state().Skip)
      return;
    flushBytes();
    append(std::u16string_view(&c, 1));
  }

  void flushBytes() {
    if (FPendingBytes.empty())
      return;
    const std::string bytes = std::exchange(FPendingBytes, {});
    append(platform::codePageToWide(FCodePage, bytes));
  }

  void append(std::u16string_view Text) {
    if (Text.empty())
      return;
    const GroupState& s = state();
    if (FRuns.empty() || FRuns.back().Bold != s.Bold || FRuns.back().Italic != s.Italic ||
        FRuns.back().Underline != s.Underline)
      FRuns.push_back({{}, s.Bold, s.Italic, s.Underline});
    FRuns.back().Text.append(Text);
  }

  std::span<const std::uint8_t> FBytes;
  std::size_t FPos = 0;
  std::vector<GroupState> FStates{GroupState{}};
  std::size_t FOverflow = 0;
  bool FGroupStart = false;
  bool FPendingStar = false;
  int FFallback = 0;
  unsigned FCodePage = kDefaultCodePage;
  std::string FPendingBytes;
  std::vector<TdRtfRun> FRuns;
};

}  // namespace

bool TdIsRtf(std::span<const std::uint8_t> Bytes) {
  std::size_t i = 0;
  while (i < Bytes.size() && (Bytes[i] == ' ' || Bytes[i] == '\t' || Bytes[i] == '\r' ||
                              Bytes[i] == '\n'))
    ++i;
  static constexpr std::string_view kStart = "{\\rtf";
  if (Bytes.size() - i < kStart.size())
    return false;
  return std::equal(kStart.begin(), kStart.end(), Bytes.begin() + std::ptrdiff_t(i));
}

std::vector<TdRtfRun> TdReadRtf(std::span<const std::uint8_t> Bytes) {
  return RtfReader(Bytes).read();
}
