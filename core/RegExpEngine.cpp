#include "core/RegExpEngine.h"

#include <clocale>
#include <cstring>
#include <cwctype>
#include <iconv.h>
#include <locale.h>
#include <map>
#include <mutex>

#include "platform/Text.h"

// ---------------------------------------------------------------------------
// Case inversion
// ---------------------------------------------------------------------------

namespace {

using ByteTable = std::array<unsigned char, 256>;

// Converts one code point to the code page; -1 unless it becomes one byte.
int unicodeToSingleByte(iconv_t cd, char32_t u) {
  char in[4] = {char(u & 0xFF), char((u >> 8) & 0xFF), char((u >> 16) & 0xFF), char(u >> 24)};
  char out[8];
  char* inp = in;
  char* outp = out;
  size_t inLeft = 4, outLeft = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == size_t(-1)) return -1;
  if (sizeof out - outLeft != 1) return -1;
  return static_cast<unsigned char>(out[0]);
}

// CharUpperA/CharLowerA on single bytes of a code page. The upper- and
// lower-case forms come from the Unicode case tables of the C.UTF-8 locale; a
// form that the code page cannot hold as one byte leaves the byte unchanged,
// as the system does.
ByteTable buildToggleTable(unsigned codePage) {
  ByteTable table;
  for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(i);
  for (int c = 'A'; c <= 'Z'; ++c) {
    table[c] = static_cast<unsigned char>(c + 32);
    table[c + 32] = static_cast<unsigned char>(c);
  }
  // In UTF-8 a byte above 127 is only part of a character: nothing to fold.
  if (codePage == platform::kCodePageUtf8) return table;

  const std::string cpName = "CP" + std::to_string(codePage);
  const std::string winName = "WINDOWS-" + std::to_string(codePage);
  iconv_t toU = iconv_open("UTF-32LE", cpName.c_str());
  if (toU == iconv_t(-1)) toU = iconv_open("UTF-32LE", winName.c_str());
  iconv_t fromU = iconv_open(cpName.c_str(), "UTF-32LE");
  if (fromU == iconv_t(-1)) fromU = iconv_open(winName.c_str(), "UTF-32LE");
  locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
  if (toU != iconv_t(-1) && fromU != iconv_t(-1) && loc != locale_t(0)) {
    for (int b = 128; b < 256; ++b) {
      char in = static_cast<char>(b);
      char out[8];
      char* inp = &in;
      char* outp = out;
      size_t inLeft = 1, outLeft = sizeof out;
      iconv(toU, nullptr, nullptr, nullptr, nullptr);
      if (iconv(toU, &inp, &inLeft, &outp, &outLeft) == size_t(-1) || sizeof out - outLeft != 4) continue;
      char32_t u = char32_t(static_cast<unsigned char>(out[0])) |
                   char32_t(static_cast<unsigned char>(out[1])) << 8 |
                   char32_t(static_cast<unsigned char>(out[2])) << 16 |
                   char32_t(static_cast<unsigned char>(out[3])) << 24;
      const char32_t upper = static_cast<char32_t>(towupper_l(static_cast<wint_t>(u), loc));
      const char32_t lower = static_cast<char32_t>(towlower_l(static_cast<wint_t>(u), loc));
      int mapped = upper != u ? unicodeToSingleByte(fromU, upper) : -1;
      if (mapped < 0 || mapped == b) mapped = lower != u ? unicodeToSingleByte(fromU, lower) : -1;
      if (mapped >= 0) table[b] = static_cast<unsigned char>(mapped);
    }
  }
  if (loc != locale_t(0)) freelocale(loc);
  if (toU != iconv_t(-1)) iconv_close(toU);
  if (fromU != iconv_t(-1)) iconv_close(fromU);
  return table;
}

ByteTable toggleTableForActiveCodePage() {
  static std::mutex mutex;
  static std::map<unsigned, ByteTable> cache;
  const unsigned cp = platform::activeCodePage();
  std::lock_guard lock(mutex);
  auto it = cache.find(cp);
  if (it == cache.end()) it = cache.emplace(cp, buildToggleTable(cp)).first;
  return it->second;
}

// ---------------------------------------------------------------------------
// Program
// ---------------------------------------------------------------------------

enum Op : std::uint8_t {
  opEnd,
  opNothing,
  opLit,        // case-sensitive literal run
  opLitCI,      // literal run compared with the character or its inverted form
  opAny,        // "." with s on
  opAnyNL,      // "." with s off
  opClass,      // 256-bit set (also \d \w \s and their complements)
  opBol, opEol, opMBol, opMEol, opBoi, opEoi, opBound, opNBound,
  opBackref, opBackrefCI,
  opOpen, opClose,
  opSplit,      // try alt first, then next
  opRepeat,     // counted repeat of the single-character test at alt
  opStar,       // greedy loop over a group-like body: alt = body, a = register
  opStarMark,   // first (mandatory) iteration of "+" starts here
  opStarCheck,  // end of a star body: refuses an iteration that consumed nothing
  opLoopEntry,  // pushes a loop counter, then goes to the loop node (next)
  opLoop,       // alt = body, a = min, b = max
};

constexpr int kMaxRepeat = 2147483646;
constexpr unsigned kModI = 1, kModR = 2, kModS = 4, kModG = 8, kModM = 16, kModX = 32;

}  // namespace

struct TRegExpEngine::Node {
  Op op = opNothing;
  bool lazy = false;
  int next = -1;
  int alt = -1;
  int a = 0;
  int b = 0;
  std::string lit;  // literal run
};

struct TRegExpEngine::Program {
  std::vector<Node> nodes;
  std::vector<std::bitset<256>> sets;
  int start = 0;
  int registers = 0;   // one per star loop
  std::bitset<256> firstChars;
  bool hasStartChar = false;
  unsigned char startChar = 0;
  bool anchored = false;
  std::string required;
};

// ---------------------------------------------------------------------------
// Parser
// ---------------------------------------------------------------------------

namespace {

constexpr unsigned kWidth = 1;   // always consumes at least one character
constexpr unsigned kSimple = 2;  // a single-character test

struct Frag {
  int start = -1;
  int exit = -1;  // the node whose next is still open
  unsigned flags = 0;
};

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

struct TRegExpEngine::Parser {
  TRegExpEngine& engine;
  Program& prog;
  const std::string& re;
  std::size_t pos = 0;
  unsigned flags;
  int groups = 0;
  // Top-level bookkeeping for the required literal.
  bool topFirstPieceRepeated = false;
  bool topFirstPieceSeen = false;
  std::vector<std::string> topLiterals;
  std::size_t topAlternatives = 0;

  Parser(TRegExpEngine& e, Program& p, const std::string& text, unsigned mods)
      : engine(e), prog(p), re(text), flags(mods) {}

  [[noreturn]] void fail(int code) {
    engine.parsePos_ = static_cast<int>(pos);
    engine.RaiseError(code);
    throw std::logic_error("RaiseError returned");  // an override must not return
  }
  bool atEnd() const { return pos >= re.size(); }
  char peek(std::size_t ahead = 0) const { return pos + ahead < re.size() ? re[pos + ahead] : '\0'; }

  int node(Op op) {
    prog.nodes.push_back(Node{});
    prog.nodes.back().op = op;
    return static_cast<int>(prog.nodes.size()) - 1;
  }
  void link(int from, int to) { prog.nodes[from].next = to; }
  int addSet(const std::bitset<256>& set) {
    prog.sets.push_back(set);
    return static_cast<int>(prog.sets.size()) - 1;
  }

  void skipExtended() {
    if (!(flags & kModX)) return;
    while (!atEnd()) {
      if (isBlank(re[pos])) {
        ++pos;
      } else if (re[pos] == '#') {
        while (!atEnd() && re[pos] != '\n' && re[pos] != '\r') ++pos;
      } else {
        break;
      }
    }
  }

  // Reads a well-formed brace quantifier at pos without consuming it.
  // Returns false when "{" starts no quantifier; raises 122/124.
  bool peekBraces(std::size_t& end, int& min, int& max) {
    std::size_t p = pos;
    if (p >= re.size() || re[p] != '{') return false;
    ++p;
    auto digits = [&](std::size_t from) {
      std::size_t q = from;
      while (q < re.size() && re[q] >= '0' && re[q] <= '9') ++q;
      return q;
    };
    std::size_t d1 = digits(p);
    if (d1 == p) return false;
    std::size_t minLen = d1 - p;
    std::size_t minStart = p;
    p = d1;
    if (p >= re.size()) return false;
    std::size_t maxStart = 0, maxLen = 0;
    bool hasMax = true, sameAsMin = false;
    if (re[p] == '}') {
      sameAsMin = true;
    } else if (re[p] == ',') {
      ++p;
      std::size_t d2 = digits(p);
      maxStart = p;
      maxLen = d2 - p;
      hasMax = maxLen > 0;
      p = d2;
      if (p >= re.size() || re[p] != '}') return false;
    } else {
      return false;
    }
    if (minLen > 8 || maxLen > 8) {
      pos = minLen > 8 ? minStart : maxStart;
      fail(122);
    }
    min = std::stoi(re.substr(minStart, minLen));
    if (sameAsMin) {
      max = min;
    } else if (hasMax) {
      max = std::stoi(re.substr(maxStart, maxLen));
    } else {
      max = kMaxRepeat;
    }
    if (max < min) {
      pos = p;
      fail(124);
    }
    end = p + 1;
    return true;
  }

  bool quantifierFollows() {
    char c = peek();
    if (c == '*' || c == '+' || c == '?') return true;
    std::size_t end;
    int mn, mx;
    return c == '{' && peekBraces(end, mn, mx);
  }

  // expression / group body: alternatives separated by "|"
  Frag parseReg(bool paren) {
    const unsigned savedFlags = flags;
    int openNode = -1;
    int groupNo = 0;
    if (paren) {
      if (groups >= kSlotCount - 1) fail(102);
      groupNo = ++groups;
      openNode = node(opOpen);
      prog.nodes[openNode].a = groupNo;
    }
    std::vector<Frag> alts;
    alts.push_back(parseAlternative(!paren));
    while (peek() == '|' && !atEnd()) {
      ++pos;
      alts.push_back(parseAlternative(false));
    }
    unsigned resultFlags = kWidth;
    for (const Frag& f : alts)
      if (!(f.flags & kWidth)) resultFlags &= ~kWidth;
    if (!paren) topAlternatives = alts.size();

    Frag body;
    if (alts.size() == 1) {
      body = alts[0];
    } else {
      const int join = node(opNothing);
      int firstSplit = -1, prevSplit = -1;
      for (std::size_t i = 0; i < alts.size(); ++i) {
        link(alts[i].exit, join);
        if (i + 1 < alts.size()) {
          const int split = node(opSplit);
          prog.nodes[split].alt = alts[i].start;
          if (prevSplit >= 0) link(prevSplit, split); else firstSplit = split;
          prevSplit = split;
        } else {
          link(prevSplit, alts[i].start);
        }
      }
      body = Frag{firstSplit, join, 0};
    }

    Frag result;
    if (paren) {
      if (peek() != ')' || atEnd()) fail(103);
      ++pos;
      const int closeNode = node(opClose);
      prog.nodes[closeNode].a = groupNo;
      link(openNode, body.start);
      link(body.exit, closeNode);
      result = Frag{openNode, closeNode, resultFlags};
    } else {
      if (!atEnd()) fail(peek() == ')' ? 104 : 105);
      result = Frag{body.start, body.exit, resultFlags};
    }
    flags = savedFlags;
    return result;
  }

  Frag parseAlternative(bool topLevel) {
    Frag seq;
    seq.flags = 0;
    skipExtended();
    while (!atEnd() && peek() != '|' && peek() != ')') {
      bool quantified = false;
      std::string literal;
      Frag piece = parseQuantified(quantified, literal);
      if (topLevel) {
        if (!topFirstPieceSeen && piece.start >= 0) {
          topFirstPieceSeen = true;
          topFirstPieceRepeated = quantified;
        }
        if (!quantified && !literal.empty()) topLiterals.push_back(literal);
      }
      if (piece.start >= 0) {
        seq.flags |= piece.flags & kWidth;
        if (seq.start < 0) {
          seq.start = piece.start;
        } else {
          link(seq.exit, piece.start);
        }
        seq.exit = piece.exit;
      }
      skipExtended();
    }
    if (seq.start < 0) {
      const int n = node(opNothing);
      seq.start = seq.exit = n;
    }
    return seq;
  }

  Frag parseQuantified(bool& quantified, std::string& literal) {
    Frag atom = parseSingle(literal);
    if (atom.start < 0) return atom;  // a comment or modifier group
    skipExtended();
    const std::size_t opPos = pos;
    char op = peek();
    int min = 0, max = 0;
    if (atEnd()) return atom;
    if (op == '*') {
      min = 0; max = kMaxRepeat; ++pos;
    } else if (op == '+') {
      min = 1; max = kMaxRepeat; ++pos;
    } else if (op == '?') {
      min = 0; max = 1; ++pos;
    } else if (op == '{') {
      std::size_t end;
      if (!peekBraces(end, min, max)) return atom;
      pos = end;
    } else {
      return atom;
    }
    if (!(atom.flags & kWidth) && op != '?') {
      pos = opPos;
      fail(106);
    }
    bool lazy = false;
    if (peek() == '?' && !atEnd()) {
      lazy = true;
      ++pos;
    }
    if (!(flags & kModG)) lazy = true;
    {
      const char c = peek();
      if (!atEnd() && (c == '*' || c == '+' || c == '?' || c == '{')) fail(107);
    }
    quantified = true;
    literal.clear();
    const unsigned width = (atom.flags & kWidth) && min > 0 ? kWidth : 0;

    if (atom.flags & kSimple) {
      if (op == '?' && !lazy) return optional(atom);
      const int rep = node(opRepeat);
      Node& n = prog.nodes[rep];
      n.alt = atom.start;
      n.a = min;
      n.b = max;
      n.lazy = lazy;
      return Frag{rep, rep, width};
    }
    if (!lazy && op != '{') {
      if (op == '?') return optional(atom);
      const int reg = prog.registers++;
      const int star = node(opStar);
      const int check = node(opStarCheck);
      prog.nodes[star].a = reg;
      prog.nodes[star].alt = atom.start;
      prog.nodes[check].a = reg;
      link(atom.exit, check);
      link(check, star);
      if (op == '*') return Frag{star, star, 0};
      const int mark = node(opStarMark);
      prog.nodes[mark].a = reg;
      link(mark, atom.start);
      return Frag{mark, star, width};
    }
    const int entry = node(opLoopEntry);
    const int loop = node(opLoop);
    Node& l = prog.nodes[loop];
    l.alt = atom.start;
    l.a = min;
    l.b = max;
    l.lazy = lazy;
    link(entry, loop);
    link(atom.exit, loop);
    return Frag{entry, loop, width};
  }

  Frag optional(const Frag& atom) {
    const int split = node(opSplit);
    const int join = node(opNothing);
    prog.nodes[split].alt = atom.start;
    link(split, join);
    link(atom.exit, join);
    return Frag{split, join, 0};
  }

  Frag single(Op op, unsigned f) {
    const int n = node(op);
    return Frag{n, n, f};
  }
  Frag setNode(const std::bitset<256>& set) {
    const int n = node(opClass);
    prog.nodes[n].a = addSet(set);
    return Frag{n, n, kWidth | kSimple};
  }
  Frag literalNode(std::string text) {
    const int n = node((flags & kModI) ? opLitCI : opLit);
    prog.nodes[n].lit = std::move(text);
    const unsigned f = kWidth | (prog.nodes[n].lit.size() == 1 ? kSimple : 0);
    return Frag{n, n, f};
  }

  std::bitset<256> charsOf(const std::string& chars) const {
    std::bitset<256> set;
    for (unsigned char c : chars) set.set(c);
    return set;
  }
  std::bitset<256> digits() const {
    std::bitset<256> set;
    for (int c = '0'; c <= '9'; ++c) set.set(c);
    return set;
  }

  // "\x" escapes; pos is just after "x".
  unsigned char parseHex() {
    if (atEnd()) fail(111);
    if (peek() == '{') {
      ++pos;
      int value = 0;
      while (true) {
        if (atEnd()) fail(111);
        const char c = peek();
        if (c == '}') break;
        if (!isHex(c)) fail(108);
        if (value >= 16) fail(112);
        value = value * 16 + hexValue(c);
        ++pos;
      }
      ++pos;
      return static_cast<unsigned char>(value);
    }
    if (pos + 1 >= re.size()) fail(111);
    if (!isHex(re[pos])) fail(108);
    if (!isHex(re[pos + 1])) {
      ++pos;
      fail(108);
    }
    const int value = hexValue(re[pos]) * 16 + hexValue(re[pos + 1]);
    pos += 2;
    return static_cast<unsigned char>(value);
  }

  // A single-character escape shared by atoms and classes; pos is on the
  // character after "\".
  unsigned char escapedChar() {
    const char c = re[pos++];
    switch (c) {
      case 't': return 9;
      case 'n': return 10;
      case 'r': return 13;
      case 'f': return 12;
      case 'a': return 7;
      case 'e': return 27;
      case 'x': return parseHex();
      default: return static_cast<unsigned char>(c);
    }
  }

  void addMember(std::bitset<256>& set, unsigned char c) {
    set.set(c);
    if (flags & kModI) set.set(engine.toggle_[c]);
  }

  Frag parseClass() {
    // pos is after "["
    std::bitset<256> set;
    bool negate = false;
    if (peek() == '^' && !atEnd()) {
      negate = true;
      ++pos;
    }
    bool first = true;
    auto isSetEscape = [&](std::size_t at) {
      if (at + 1 >= re.size() || re[at] != '\\') return false;
      const char e = re[at + 1];
      return e == 'd' || e == 'D' || e == 's' || e == 'S' || e == 'w' || e == 'W';
    };
    while (true) {
      if (atEnd()) fail(113);
      char c = peek();
      if (c == ']' && !first) {
        ++pos;
        break;
      }
      first = false;
      unsigned char from;
      if (c == '\\') {
        ++pos;
        if (atEnd()) fail(110);
        const char e = peek();
        if (e == 'd' || e == 's' || e == 'w') {
          ++pos;
          const auto add = e == 'd' ? digits() : charsOf(e == 's' ? engine.spaceChars_ : engine.wordChars_);
          for (int i = 0; i < 256; ++i)
            if (add.test(i)) addMember(set, static_cast<unsigned char>(i));
          continue;
        }
        from = escapedChar();
      } else {
        from = static_cast<unsigned char>(c);
        ++pos;
      }
      // A range needs "-" followed by a member that is neither "]" nor a set escape.
      if (peek() == '-' && pos + 1 < re.size() && re[pos + 1] != ']' && !isSetEscape(pos + 1)) {
        ++pos;
        unsigned char to;
        if (peek() == '\\') {
          ++pos;
          if (atEnd()) fail(110);
          to = escapedChar();
        } else {
          to = static_cast<unsigned char>(peek());
          ++pos;
        }
        const bool r = flags & kModR;
        if (r && ((from == 0xE0 && to == 0xFF) || (from == 0xC0 && to == 0xDF) || (from == 0xE0 && to == 0xDF))) {
          if (from == 0xE0) {
            for (int i = 0xE0; i <= 0xFF; ++i) addMember(set, static_cast<unsigned char>(i));
            addMember(set, 0xB8);
          }
          if (to == 0xDF) {
            for (int i = 0xC0; i <= 0xDF; ++i) addMember(set, static_cast<unsigned char>(i));
            addMember(set, 0xA8);
          }
          continue;
        }
        if (to < from) fail(109);
        for (int i = from; i <= to; ++i) addMember(set, static_cast<unsigned char>(i));
        continue;
      }
      addMember(set, from);
    }
    if (negate) set.flip();
    return setNode(set);
  }

  // One atom. `literal` receives the text of a case-sensitive literal run.
  Frag parseSingle(std::string& literal) {
    const char c = peek();
    switch (c) {
      case '^': ++pos; return single((flags & kModM) ? opMBol : opBol, 0);
      case '$': ++pos; return single((flags & kModM) ? opMEol : opEol, 0);
      case '.':
        ++pos;
        return (flags & kModS) ? single(opAny, kWidth | kSimple) : single(opAnyNL, kWidth | kSimple);
      case '[': ++pos; return parseClass();
      case '(': {
        ++pos;
        if (peek() == '?' && !atEnd()) {
          ++pos;
          if (peek() == '#' && !atEnd()) {
            while (!atEnd() && peek() != ')') ++pos;
            if (atEnd()) fail(125);
            ++pos;
            return Frag{};
          }
          unsigned newFlags = flags;
          bool clear = false;
          while (true) {
            if (atEnd()) fail(127);
            const char m = static_cast<char>(peek() | 0x20);
            if (peek() == ')') break;
            unsigned bit = 0;
            switch (m) {
              case 'i': bit = kModI; break;
              case 'r': bit = kModR; break;
              case 's': bit = kModS; break;
              case 'g': bit = kModG; break;
              case 'm': bit = kModM; break;
              case 'x': bit = kModX; break;
              default:
                if (peek() == '-') {
                  clear = true;
                  ++pos;
                  continue;
                }
                fail(127);
            }
            newFlags = clear ? (newFlags & ~bit) : (newFlags | bit);
            ++pos;
          }
          ++pos;
          flags = newFlags;
          return Frag{};
        }
        return parseReg(true);
      }
      case '*':
      case '+':
      case '?':
        fail(115);
      case '\\': {
        ++pos;
        if (atEnd()) fail(116);
        const char e = peek();
        switch (e) {
          case 'A': ++pos; return single(opBoi, 0);
          case 'Z': ++pos; return single(opEoi, 0);
          case 'b': ++pos; return single(opBound, 0);
          case 'B': ++pos; return single(opNBound, 0);
          case 'd': ++pos; return setNode(digits());
          case 'D': ++pos; return setNode(~digits());
          case 'w': ++pos; return setNode(charsOf(engine.wordChars_));
          case 'W': ++pos; return setNode(~charsOf(engine.wordChars_));
          case 's': ++pos; return setNode(charsOf(engine.spaceChars_));
          case 'S': ++pos; return setNode(~charsOf(engine.spaceChars_));
          default: break;
        }
        if (e >= '1' && e <= '9') {
          ++pos;
          const int n = node((flags & kModI) ? opBackrefCI : opBackref);
          prog.nodes[n].a = e - '0';
          return Frag{n, n, kWidth | kSimple};
        }
        std::string one(1, static_cast<char>(escapedChar()));
        if (!(flags & kModI)) literal = one;
        return literalNode(std::move(one));
      }
      default:
        break;
    }
    // A literal run: everything up to the next special character. "{" is
    // special only when it starts a quantifier.
    std::string run;
    std::size_t lastCharPos = pos;
    while (!atEnd()) {
      const char ch = peek();
      if (ch == '^' || ch == '$' || ch == '.' || ch == '[' || ch == '(' || ch == ')' || ch == '|' ||
          ch == '?' || ch == '+' || ch == '*' || ch == '\\')
        break;
      if (ch == '{') {
        std::size_t end;
        int mn, mx;
        if (!run.empty() && peekBraces(end, mn, mx)) break;
      }
      if ((flags & kModX) && (isBlank(ch) || ch == '#')) {
        if (ch == '#') break;
        ++pos;
        continue;
      }
      lastCharPos = pos;
      run.push_back(ch);
      ++pos;
    }
    if (run.empty()) fail(119);
    // A quantifier takes only the last character of the run.
    if (run.size() > 1) {
      const std::size_t save = pos;
      skipExtended();
      const bool q = quantifierFollows();
      pos = save;
      if (q) {
        run.pop_back();
        pos = lastCharPos;
      }
    }
    if (!(flags & kModI)) literal = run;
    return literalNode(std::move(run));
  }
};

// ---------------------------------------------------------------------------
// Engine
// ---------------------------------------------------------------------------

TRegExpEngine::TRegExpEngine()
    : modifiers_(kModR | kModS | kModG),
      spaceChars_(std::string(" \t\n\r\f", 5)),
      wordChars_("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_"),
      lineSeparators_("\r\n"),
      toggle_(toggleTableForActiveCodePage()) {}

unsigned char TRegExpEngine::ToggleCase(unsigned char c) { return toggleTableForActiveCodePage()[c]; }

void TRegExpEngine::RaiseError(int code) {
  lastError_ = code;
  std::string text = ErrorText(code);
  const int position = code < 1000 ? ErrorPosition() : 0;
  if (code < 1000) text += " (pos " + std::to_string(position) + ")";
  // The search that gives up names what it gave up on: the user sees which
  // pattern to simplify.
  if (code == 1016) text += " matching \"" + expression_ + "\"";
  throw ERegExpEngine(text, code, position);
}

std::string TRegExpEngine::ErrorText(int code) const {
  switch (code) {
    case 0: return "No errors";
    case 100: return "TRegExpEngine(comp): Null Argument";
    case 101: return "TRegExpEngine(comp): Regexp Too Big";
    case 102: return "TRegExpEngine(comp): ParseReg Too Many ()";
    case 103: return "TRegExpEngine(comp): ParseReg Unmatched ()";
    case 104: return "TRegExpEngine(comp): ParseReg Unmatched ()";
    case 105: return "TRegExpEngine(comp): ParseReg Junk On End";
    case 106: return "TRegExpEngine(comp): *+ Operand Could Be Empty";
    case 107: return "TRegExpEngine(comp): Nested *?+";
    case 108: return "TRegExpEngine(comp): Bad Hex Digit";
    case 109: return "TRegExpEngine(comp): Invalid [] Range";
    case 110: return "TRegExpEngine(comp): Parse Atom Trailing \\";
    case 111: return "TRegExpEngine(comp): No Hex Code After \\x";
    case 112: return "TRegExpEngine(comp): Hex Code After \\x Is Too Big";
    case 113: return "TRegExpEngine(comp): Unmatched []";
    case 114: return "TRegExpEngine(comp): Internal Urp";
    case 115: return "TRegExpEngine(comp): ?+*{ Follows Nothing";
    case 116: return "TRegExpEngine(comp): Trailing \\";
    case 119: return "TRegExpEngine(comp): RarseAtom Internal Disaster";
    case 122: return "TRegExpEngine(comp): BRACES Argument Too Big";
    case 124: return "TRegExpEngine(comp): BRACE Min Param Greater then Max";
    case 125: return "TRegExpEngine(comp): Unclosed (?#Comment)";
    case 126:
      return "TRegExpEngine(comp): If you want take part in beta-testing BRACES '{min,max}' and non-greedy "
             "ops '*?', '+?', '?" "?' for complex cases - remove '.' from {.$DEFINE ComplexBraces}";
    case 127: return "TRegExpEngine(comp): Urecognized Modifier";
    case 128: return "TRegExpEngine(comp): LinePairedSeparator must countain two different chars or no chars at all";
    case 1000: return "TRegExpEngine(exec): RegRepeat Called Inappropriately";
    case 1001: return "TRegExpEngine(exec): MatchPrim Memory Corruption";
    case 1002: return "TRegExpEngine(exec): MatchPrim Corrupted Pointers";
    case 1003: return "TRegExpEngine(exec): Not Assigned Expression Property";
    case 1004: return "TRegExpEngine(exec): Corrupted Program";
    case 1005: return "TRegExpEngine(exec): No Inpit String Specified";
    case 1006: return "TRegExpEngine(exec): Offset Must Be Greater Then 0";
    case 1007: return "TRegExpEngine(exec): ExecNext Without Exec[Pos]";
    case 1008: return "TRegExpEngine(exec): GetInputString Without InputString";
    case 1011: return "TRegExpEngine(dump): Corrupted Opcode";
    case 1014: return "TRegExpEngine(exec): Loop Stack Exceeded";
    case 1015: return "TRegExpEngine(exec): Loop Without LoopEntry !";
    case 1016: return "TRegExpEngine(exec): Step Limit Exceeded";
    default: return "Unknown error";
  }
}

void TRegExpEngine::SetModifierFlag(int index, bool on) {
  if (index < 1 || index > 6) RaiseError(1013);
  const unsigned bit = 1u << (index - 1);
  modifiers_ = on ? (modifiers_ | bit) : (modifiers_ & ~bit);
}

bool TRegExpEngine::ModifierFlag(int index) const {
  if (index < 1 || index > 6) return false;
  return (modifiers_ >> (index - 1)) & 1u;
}

void TRegExpEngine::dropProgram() {
  matcher_.reset();
  program_.reset();
}

void TRegExpEngine::SetExpression(std::string_view text) {
  if (expressionAssigned_ && program_ && text == expression_) return;
  expression_.clear();
  expressionAssigned_ = false;
  // The expression is kept as a NUL-terminated copy: it ends at its first NUL.
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  if (!text.empty()) {
    expression_.assign(text);
    expressionAssigned_ = true;
  }
  dropProgram();
}

void TRegExpEngine::SetInputString(std::string_view text) {
  startp_.fill(-1);
  endp_.fill(-1);
  const std::size_t nul = text.find('\0');
  input_.assign(nul == std::string_view::npos ? text : text.substr(0, nul));
  hasInput_ = true;
}

void TRegExpEngine::SetLinePairedSeparator(std::string_view text) {
  bool has = false;
  unsigned char head = 0, tail = 0;
  if (text.size() == 2 && text[0] != text[1]) {
    has = true;
    head = static_cast<unsigned char>(text[0]);
    tail = static_cast<unsigned char>(text[1]);
  } else if (!text.empty()) {
    RaiseError(128);
  }
  if (has != hasPair_ || head != pairHead_ || tail != pairTail_) {
    hasPair_ = has;
    pairHead_ = head;
    pairTail_ = tail;
    dropProgram();
  }
}

std::string TRegExpEngine::LinePairedSeparator() const {
  if (!hasPair_) return {};
  return std::string{static_cast<char>(pairHead_), static_cast<char>(pairTail_)};
}

void TRegExpEngine::SetSpaceChars(std::string_view chars) {
  spaceChars_.assign(chars);
  dropProgram();
}
void TRegExpEngine::SetWordChars(std::string_view chars) {
  wordChars_.assign(chars);
  dropProgram();
}
void TRegExpEngine::SetLineSeparators(std::string_view chars) {
  lineSeparators_.assign(chars);
  dropProgram();
}

int TRegExpEngine::MatchedGroupCount() const {
  if (!hasInput_) return -1;
  for (int i = kSlotCount - 1; i >= 1; --i)
    if (startp_[i] >= 0 && endp_[i] >= 0) return i;
  return 0;
}

int TRegExpEngine::MatchPos(int slot) const {
  if (!hasInput_ || slot < 0 || slot >= kSlotCount || startp_[slot] < 0 || endp_[slot] < startp_[slot])
    return -1;
  return static_cast<int>(startp_[slot]) + 1;
}

int TRegExpEngine::MatchLen(int slot) const {
  if (MatchPos(slot) < 0) return -1;
  return static_cast<int>(endp_[slot] - startp_[slot]);
}

std::string TRegExpEngine::GroupText(int slot) const {
  if (MatchPos(slot) < 0) return {};
  return input_.substr(static_cast<std::size_t>(startp_[slot]),
                       static_cast<std::size_t>(endp_[slot] - startp_[slot]));
}

namespace {

// Follows the program from a node and collects every character a match can
// begin with. Anchors, group marks and loop plumbing are passed through; the
// end of the program adds nothing.
void fillFirstChars(const TRegExpEngine::Program& prog, const std::array<unsigned char, 256>& toggle,
                    std::bitset<256>& out);

}  // namespace

void TRegExpEngine::CompileProgram() {
  if (!expressionAssigned_) RaiseError(1003);
  dropProgram();
  auto prog = std::make_unique<Program>();
  compiling_ = true;
  parsePos_ = 0;
  try {
    Parser parser(*this, *prog, expression_, modifiers_);
    Frag top = parser.parseReg(false);
    const int end = parser.node(opEnd);
    parser.link(top.exit, end);
    prog->start = top.start;
    parser.pos = 0;

    // With one top-level alternative: a leading case-sensitive literal gives
    // the start character, a leading "^" anchors the search, and a leading
    // repeat makes the longest literal of the main path required.
    const Node& first = prog->nodes[prog->start];
    if (parser.topAlternatives == 1) {
      if (first.op == opLit && !first.lit.empty()) {
        prog->hasStartChar = true;
        prog->startChar = static_cast<unsigned char>(first.lit[0]);
      }
      if (first.op == opBol) prog->anchored = true;
      if (parser.topFirstPieceRepeated) {
        for (const std::string& lit : parser.topLiterals)
          if (lit.size() >= prog->required.size()) prog->required = lit;
      }
    }
    fillFirstChars(*prog, toggle_, prog->firstChars);
  } catch (...) {
    compiling_ = false;
    throw;
  }
  compiling_ = false;
  program_ = std::move(prog);
  programModifiers_ = modifiers_;
}

namespace {

void fillFirstChars(const TRegExpEngine::Program& prog, const std::array<unsigned char, 256>& toggle,
                    std::bitset<256>& out) {
  std::vector<char> seen(prog.nodes.size(), 0);
  std::vector<int> work{prog.start};
  auto addAtom = [&](const TRegExpEngine::Node& n) {
    switch (n.op) {
      case opLit: out.set(static_cast<unsigned char>(n.lit[0])); break;
      case opLitCI: {
        const auto c = static_cast<unsigned char>(n.lit[0]);
        out.set(c);
        out.set(toggle[c]);
        break;
      }
      case opClass: out |= prog.sets[n.a]; break;
      default: out.set(); break;  // ".", back-references
    }
  };
  while (!work.empty()) {
    const int i = work.back();
    work.pop_back();
    if (i < 0 || seen[i]) continue;
    seen[i] = 1;
    const auto& n = prog.nodes[i];
    switch (n.op) {
      case opEnd: break;
      case opLit: case opLitCI: case opAny: case opAnyNL: case opClass: case opBackref: case opBackrefCI:
        addAtom(n);
        break;
      case opRepeat:
        addAtom(prog.nodes[n.alt]);
        if (n.a == 0) work.push_back(n.next);
        break;
      case opSplit: case opStar:
        work.push_back(n.alt);
        work.push_back(n.next);
        break;
      case opLoop:
        work.push_back(n.alt);
        if (n.a == 0) work.push_back(n.next);
        break;
      default:
        work.push_back(n.next);
        break;
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Matcher
// ---------------------------------------------------------------------------

namespace {

enum FrameKind : std::uint32_t {
  fkChoice,      // resume at a (node), pos
  fkUndoStart,   // slot a had start pos
  fkUndoEnd,     // slot a had end pos
  fkUndoReg,     // register a had pos
  fkUndoLoop,    // loop level a had count b and iteration start pos
  fkUndoLoopIdx, // the loop index was a
  fkRepGreedy,   // repeat node a from start pos, count b tried last
  fkRepLazy,     // repeat node a from start pos, count b tried last
  fkLoopCont,    // greedy loop node a: leave the loop at pos
  fkLoopMore,    // lazy loop node a: one more iteration at pos
};

// 16 bytes: a pattern that loops through a group pushes a few of these per
// character of the subject.
struct Frame {
  std::uint32_t kind : 4;
  std::uint32_t a : 28;  // node index, slot, register or loop level
  std::int32_t b;        // a count (repeat counts stay below 2^31)
  std::int64_t pos;
};

}  // namespace

struct TRegExpEngine::Matcher {
  TRegExpEngine& e;
  const Program& prog;
  const unsigned char* s = nullptr;
  std::ptrdiff_t len = 0;
  std::bitset<256> lineSeps;
  std::bitset<256> wordSet;
  std::vector<Frame> stack;
  std::vector<std::ptrdiff_t> regs;
  std::array<std::int64_t, kLoopStackMax + 1> loopCount{};
  std::array<std::ptrdiff_t, kLoopStackMax + 1> loopStart{};
  int loopIdx = 0;

  Matcher(TRegExpEngine& engine, const Program& p) : e(engine), prog(p), regs(p.registers, -1) {
    for (unsigned char c : e.lineSeparators_) lineSeps.set(c);
    for (unsigned char c : e.wordChars_) wordSet.set(c);
  }
  // The input copy may have moved since the last search.
  void bindInput() {
    s = reinterpret_cast<const unsigned char*>(e.input_.data());
    len = static_cast<std::ptrdiff_t>(e.input_.size());
  }

  bool isWord(std::ptrdiff_t i) const { return i >= 0 && i < len && wordSet.test(s[i]); }

  // Does the single-character test of node n accept the character at i?
  bool testOne(const Node& n, std::ptrdiff_t i) const {
    if (i >= len) return false;
    const unsigned char c = s[i];
    switch (n.op) {
      case opLit: return c == static_cast<unsigned char>(n.lit[0]);
      case opLitCI: {
        const auto p = static_cast<unsigned char>(n.lit[0]);
        return c == p || c == e.toggle_[p];
      }
      case opAny: return true;
      case opAnyNL: return !lineSeps.test(c) && !(e.hasPair_ && c == e.pairHead_);
      case opClass: return prog.sets[n.a].test(c);
      default: return false;
    }
  }

  // How many times the atom matches from i, at most max.
  std::int64_t countRepeat(const Node& atom, std::ptrdiff_t i, std::int64_t max) const {
    std::int64_t count = 0;
    std::ptrdiff_t p = i;
    switch (atom.op) {
      case opAny:
        return std::min<std::int64_t>(max, len - i);
      case opLit: {
        const auto ch = static_cast<unsigned char>(atom.lit[0]);
        while (count < max && p < len && s[p] == ch) ++p, ++count;
        return count;
      }
      case opClass: {
        const auto& set = prog.sets[atom.a];
        while (count < max && p < len && set.test(s[p])) ++p, ++count;
        return count;
      }
      default:
        while (count < max && testOne(atom, p)) ++p, ++count;
        return count;
    }
  }

  // Length of the text captured by a group, or -1 when the group is unset.
  std::ptrdiff_t groupLength(int g) const {
    if (e.startp_[g] < 0 || e.endp_[g] < e.startp_[g]) return -1;
    return e.endp_[g] - e.startp_[g];
  }
  bool backrefAt(const Node& n, std::ptrdiff_t i) const {
    const std::ptrdiff_t l = groupLength(n.a);
    if (l < 0 || l > len - i) return false;
    const unsigned char* g = s + e.startp_[n.a];
    if (n.op == opBackref) return std::memcmp(g, s + i, static_cast<std::size_t>(l)) == 0;
    for (std::ptrdiff_t k = 0; k < l; ++k)
      if (s[i + k] != g[k] && s[i + k] != e.toggle_[g[k]]) return false;
    return true;
  }

  bool atLineStart(std::ptrdiff_t i) const {
    if (i == 0) return true;
    if (i > len) return false;
    const unsigned char prev = s[i - 1];
    if (e.hasPair_ && i < len && prev == e.pairHead_ && s[i] == e.pairTail_) return false;
    if (lineSeps.test(prev)) return true;
    return e.hasPair_ && i >= 2 && s[i - 2] == e.pairHead_ && prev == e.pairTail_;
  }
  bool atLineEnd(std::ptrdiff_t i) const {
    if (i >= len) return true;
    const unsigned char cur = s[i];
    if (e.hasPair_ && i > 0 && s[i - 1] == e.pairHead_ && cur == e.pairTail_) return false;
    if (lineSeps.test(cur)) return true;
    return e.hasPair_ && i + 1 < len && cur == e.pairHead_ && s[i + 1] == e.pairTail_;
  }

  void push(FrameKind k, std::int32_t a, std::int64_t b, std::ptrdiff_t pos) {
    stack.push_back(Frame{k, static_cast<std::uint32_t>(a), static_cast<std::int32_t>(b), pos});
  }
  void setStart(int slot, std::ptrdiff_t v) {
    push(fkUndoStart, slot, 0, e.startp_[slot]);
    e.startp_[slot] = v;
  }
  void setEnd(int slot, std::ptrdiff_t v) {
    push(fkUndoEnd, slot, 0, e.endp_[slot]);
    e.endp_[slot] = v;
  }
  void setReg(int r, std::ptrdiff_t v) {
    push(fkUndoReg, r, 0, regs[r]);
    regs[r] = v;
  }
  void setLoop(int level, std::int64_t count, std::ptrdiff_t iterStart) {
    push(fkUndoLoop, level, loopCount[level], loopStart[level]);
    loopCount[level] = count;
    loopStart[level] = iterStart;
  }
  void setLoopIdx(int v) {
    push(fkUndoLoopIdx, loopIdx, 0, 0);
    loopIdx = v;
  }

  // The greatest admissible count <= c of a greedy repeat, or -1. When the
  // next node is a case-sensitive literal, only counts after which its first
  // character follows are admissible.
  std::int64_t greedyCount(const Node& rep, std::ptrdiff_t start, std::int64_t c, std::ptrdiff_t unit) const {
    const Node* next = rep.next >= 0 ? &prog.nodes[rep.next] : nullptr;
    const bool filter = next && next->op == opLit;
    const unsigned char want = filter ? static_cast<unsigned char>(next->lit[0]) : 0;
    for (; c >= rep.a; --c) {
      if (!filter) return c;
      const std::ptrdiff_t at = start + c * unit;
      if (at < len && s[at] == want) return c;
    }
    return -1;
  }

  bool run(std::ptrdiff_t startPos) {
    stack.clear();
    loopIdx = 0;
    std::fill(regs.begin(), regs.end(), -1);
    int pc = prog.start;
    std::ptrdiff_t pos = startPos;
    // Counted per start position, so a long subject that many positions
    // each try briefly stays searchable while one attempt that backtracks
    // without end (nested loops over the same characters) is cut off.
    std::int64_t steps = 0;
    while (true) {
      if (++steps > kStepLimit) e.RaiseError(1016);
      bool ok = true;
      const Node& n = prog.nodes[pc];
      switch (n.op) {
        case opEnd:
          e.startp_[0] = startPos;
          e.endp_[0] = pos;
          return true;
        case opNothing:
          pc = n.next;
          break;
        case opLit: {
          const std::size_t l = n.lit.size();
          if (static_cast<std::ptrdiff_t>(l) > len - pos || std::memcmp(s + pos, n.lit.data(), l) != 0) {
            ok = false;
          } else {
            pos += static_cast<std::ptrdiff_t>(l);
            pc = n.next;
          }
          break;
        }
        case opLitCI: {
          const std::size_t l = n.lit.size();
          if (static_cast<std::ptrdiff_t>(l) > len - pos) {
            ok = false;
            break;
          }
          for (std::size_t k = 0; k < l; ++k) {
            const auto p = static_cast<unsigned char>(n.lit[k]);
            const unsigned char c = s[pos + static_cast<std::ptrdiff_t>(k)];
            if (c != p && c != e.toggle_[p]) {
              ok = false;
              break;
            }
          }
          if (ok) {
            pos += static_cast<std::ptrdiff_t>(l);
            pc = n.next;
          }
          break;
        }
        case opAny: case opAnyNL: case opClass:
          if (testOne(n, pos)) {
            ++pos;
            pc = n.next;
          } else {
            ok = false;
          }
          break;
        case opBol: ok = pos == 0; pc = n.next; break;
        case opEol: ok = pos == len; pc = n.next; break;
        case opMBol: ok = atLineStart(pos); pc = n.next; break;
        case opMEol: ok = atLineEnd(pos); pc = n.next; break;
        case opBoi: ok = pos == 0; pc = n.next; break;
        case opEoi: ok = pos == len; pc = n.next; break;
        case opBound: ok = isWord(pos - 1) != isWord(pos); pc = n.next; break;
        case opNBound: ok = isWord(pos - 1) == isWord(pos); pc = n.next; break;
        case opBackref: case opBackrefCI:
          if (backrefAt(n, pos)) {
            pos += groupLength(n.a);
            pc = n.next;
          } else {
            ok = false;
          }
          break;
        case opOpen:
          setStart(n.a, pos);
          pc = n.next;
          break;
        case opClose:
          setEnd(n.a, pos);
          pc = n.next;
          break;
        case opSplit:
          push(fkChoice, n.next, 0, pos);
          pc = n.alt;
          break;
        case opRepeat: {
          const Node& atom = prog.nodes[n.alt];
          std::ptrdiff_t unit = 1;
          if (atom.op == opBackref || atom.op == opBackrefCI) {
            unit = groupLength(atom.a);
            if (unit < 0) {
              ok = false;
              break;
            }
            if (unit == 0) {  // every count ends at the same place
              pc = n.next;
              break;
            }
          }
          auto countAt = [&](std::int64_t max) -> std::int64_t {
            if (unit == 1 && atom.op != opBackref && atom.op != opBackrefCI) return countRepeat(atom, pos, max);
            std::int64_t c = 0;
            std::ptrdiff_t p = pos;
            while (c < max && backrefAt(atom, p)) p += unit, ++c;
            return c;
          };
          if (n.lazy) {
            const std::int64_t c = countAt(n.a);
            if (c < n.a) {
              ok = false;
              break;
            }
            if (c < n.b) push(fkRepLazy, pc, c, pos);
            pos += c * unit;
            pc = n.next;
          } else {
            std::int64_t c = countAt(n.b);
            c = c < n.a ? -1 : greedyCount(n, pos, c, unit);
            if (c < 0) {
              ok = false;
              break;
            }
            if (c > n.a) push(fkRepGreedy, pc, c, pos);
            pos += c * unit;
            pc = n.next;
          }
          break;
        }
        case opStar:
          push(fkChoice, n.next, 0, pos);
          setReg(n.a, pos);
          pc = n.alt;
          break;
        case opStarMark:
          setReg(n.a, -1);
          pc = n.next;
          break;
        case opStarCheck:
          // An iteration that consumed nothing would loop for ever.
          if (regs[n.a] == pos) ok = false;
          pc = n.next;
          break;
        case opLoopEntry:
          if (loopIdx >= kLoopStackMax) e.RaiseError(1014);
          setLoopIdx(loopIdx + 1);
          setLoop(loopIdx, 0, pos);
          pc = n.next;
          break;
        case opLoop: {
          if (loopIdx <= 0) e.RaiseError(1015);
          const std::int64_t c = loopCount[loopIdx];
          if (c < n.a) {
            setLoop(loopIdx, c + 1, pos);
            pc = n.alt;
            break;
          }
          const bool more = c < n.b && (c == 0 || pos != loopStart[loopIdx]);
          if (!n.lazy) {
            if (more) {
              push(fkLoopCont, pc, 0, pos);
              setLoop(loopIdx, c + 1, pos);
              pc = n.alt;
            } else {
              setLoopIdx(loopIdx - 1);
              pc = n.next;
            }
          } else {
            if (more) push(fkLoopMore, pc, 0, pos);
            setLoopIdx(loopIdx - 1);
            pc = n.next;
          }
          break;
        }
      }
      if (ok) continue;

      // Backtrack: undo until a choice point that still has a way to go.
      bool resumed = false;
      while (!resumed && !stack.empty()) {
        const Frame f = stack.back();
        stack.pop_back();
        switch (f.kind) {
          case fkUndoStart: e.startp_[f.a] = f.pos; break;
          case fkUndoEnd: e.endp_[f.a] = f.pos; break;
          case fkUndoReg: regs[f.a] = f.pos; break;
          case fkUndoLoop:
            loopCount[f.a] = f.b;
            loopStart[f.a] = f.pos;
            break;
          case fkUndoLoopIdx: loopIdx = static_cast<int>(f.a); break;
          case fkChoice:
            pc = f.a;
            pos = f.pos;
            resumed = true;
            break;
          case fkRepGreedy: {
            const Node& rep = prog.nodes[f.a];
            const Node& atom = prog.nodes[rep.alt];
            const std::ptrdiff_t unit =
                (atom.op == opBackref || atom.op == opBackrefCI) ? groupLength(atom.a) : 1;
            const std::int64_t c = greedyCount(rep, f.pos, f.b - 1, unit);
            if (c < 0) break;
            if (c > rep.a) push(fkRepGreedy, f.a, c, f.pos);
            pc = rep.next;
            pos = f.pos + c * unit;
            resumed = true;
            break;
          }
          case fkRepLazy: {
            const Node& rep = prog.nodes[f.a];
            const Node& atom = prog.nodes[rep.alt];
            const bool isRef = atom.op == opBackref || atom.op == opBackrefCI;
            const std::ptrdiff_t unit = isRef ? groupLength(atom.a) : 1;
            const std::ptrdiff_t at = f.pos + f.b * unit;
            if (!(isRef ? backrefAt(atom, at) : testOne(atom, at))) break;
            const std::int64_t c = f.b + 1;
            if (c < rep.b) push(fkRepLazy, f.a, c, f.pos);
            pc = rep.next;
            pos = at + unit;
            resumed = true;
            break;
          }
          case fkLoopCont:
            setLoopIdx(loopIdx - 1);
            pc = prog.nodes[f.a].next;
            pos = f.pos;
            resumed = true;
            break;
          case fkLoopMore:
            setLoop(loopIdx, loopCount[loopIdx] + 1, f.pos);
            pc = prog.nodes[f.a].alt;
            pos = f.pos;
            resumed = true;
            break;
        }
      }
      if (!resumed) return false;
    }
  }
};

bool TRegExpEngine::MayMatchWithin(const std::bitset<256>& chars) {
  if (!program_ || programModifiers_ != modifiers_) {
    if (!expressionAssigned_) RaiseError(1003);
    CompileProgram();
  }
  // The same tests, in the same order, as ExecFromOffset makes before its
  // first attempt.
  const Program& prog = *program_;
  for (const char c : prog.required)
    if (!chars.test(static_cast<unsigned char>(c))) return false;
  if (prog.anchored) return true;
  if (prog.hasStartChar) return chars.test(prog.startChar);
  return (prog.firstChars & chars).any();
}

bool TRegExpEngine::Exec(std::string_view text) {
  SetInputString(text);
  return ExecFromOffset(1);
}

bool TRegExpEngine::ExecFromOffset(int offset) {
  if (!program_ || programModifiers_ != modifiers_) {
    if (!expressionAssigned_) RaiseError(1003);
    CompileProgram();
  }
  if (!hasInput_) RaiseError(1005);
  if (offset <= 0) RaiseError(1006);
  const auto len = static_cast<std::ptrdiff_t>(input_.size());
  if (offset > len + 1) return false;
  const Program& prog = *program_;
  const std::ptrdiff_t from = offset - 1;

  if (!prog.required.empty() && input_.find(prog.required, static_cast<std::size_t>(from)) == std::string::npos)
    return false;

  if (!matcher_) matcher_ = std::make_unique<Matcher>(*this, prog);
  Matcher& m = *matcher_;
  m.bindInput();
  auto attempt = [&](std::ptrdiff_t at) {
    startp_.fill(-1);
    endp_.fill(-1);
    if (m.run(at)) return true;
    startp_.fill(-1);
    endp_.fill(-1);
    return false;
  };

  if (prog.anchored) return attempt(from);
  const auto* s = reinterpret_cast<const unsigned char*>(input_.data());
  if (prog.hasStartChar) {
    std::ptrdiff_t at = from;
    while (at < len) {
      const void* hit = std::memchr(s + at, prog.startChar, static_cast<std::size_t>(len - at));
      if (!hit) return false;
      at = static_cast<const unsigned char*>(hit) - s;
      if (attempt(at)) return true;
      ++at;
    }
    return false;
  }
  for (std::ptrdiff_t at = from; at < len; ++at)
    if (prog.firstChars.test(s[at]) && attempt(at)) return true;
  return false;
}

// Defined here, where Program and Matcher are complete.
TRegExpEngine::~TRegExpEngine() = default;
