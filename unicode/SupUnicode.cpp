#include "unicode/SupUnicode.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <locale.h>
#include <memory>
#include <span>
#include <utility>
#include <wchar.h>

#include "platform/Text.h"
#include "unicode/SortedLists.h"
#include "unicode/SupSynch.h"
#include "unicode/SupUnicodeData.h"
#include "unicode/SupUnitVersioning.h"

namespace sup {

namespace {

// ---------------------------------------------------------------------------
// Tables
//
// Code points are looked up in three-level sparse tables (bits 16-23, 8-15,
// 0-7), so a lookup costs three indexings and the tables hold blocks only where
// data exists. Each table is built once, at its first use, under the unit's
// lock; the flag that says it is built is set only when it is complete, so a
// thread that sees it set never reads a half-built table.

constexpr char32_t kMaxTableCode = 0xFFFFFF;
// No canonical or compatibility decomposition is longer than 18 code points.
constexpr std::uint32_t kMaxDecompositionLength = 18;

template <class Leaf>
class SparseTable {
public:
  Leaf get(char32_t code) const {
    if (code > kMaxTableCode) return Leaf{};
    const auto& mid = top_[(code >> 16) & 0xFF];
    if (!mid) return Leaf{};
    const auto& leaf = (*mid)[(code >> 8) & 0xFF];
    if (!leaf) return Leaf{};
    return (*leaf)[code & 0xFF];
  }

  Leaf& at(char32_t code) {
    auto& mid = top_[(code >> 16) & 0xFF];
    if (!mid) mid = std::make_unique<Middle>();
    auto& leaf = (*mid)[(code >> 8) & 0xFF];
    if (!leaf) leaf = std::make_unique<Block>();
    return (*leaf)[code & 0xFF];
  }

private:
  using Block = std::array<Leaf, 256>;
  using Middle = std::array<std::unique_ptr<Block>, 256>;
  std::array<std::unique_ptr<Middle>, 256> top_;
};

// A decomposition: a view of code points in the generated table.
struct Mapping {
  const std::uint32_t* codes = nullptr;
  std::uint32_t length = 0;
};

struct CompositionPair {
  std::uint32_t key;
  std::uint32_t composite;
};

struct UnicodeTables {
  SparseTable<Mapping> canonical;
  SparseTable<Mapping> compatibility;
  SparseTable<std::uint8_t> combining;
  std::vector<CompositionPair> composition;
  std::atomic<bool> decompositionLoaded{false};
  std::atomic<bool> combiningLoaded{false};
  std::atomic<bool> compositionLoaded{false};
};

UnicodeTables& tables() {
  static UnicodeTables t;
  return t;
}

TSupCriticalSection& unicodeLock() {
  static TSupCriticalSection lock;
  return lock;
}

// Reads 32-bit words of one table; running past its end is a stream error.
class WordReader {
public:
  WordReader(const std::uint32_t* words, std::size_t size) : words_(words, size) {}
  bool atEnd() const { return pos_ >= words_.size(); }
  std::size_t remaining() const { return words_.size() - pos_; }
  std::uint32_t next() {
    if (atEnd()) throw EStreamError("Stream read error");
    return words_[pos_++];
  }
  const std::uint32_t* take(std::size_t count) {
    if (count > remaining()) throw EStreamError("Stream read error");
    const std::uint32_t* p = words_.data() + pos_;
    pos_ += count;
    return p;
  }

private:
  std::span<const std::uint32_t> words_;
  std::size_t pos_ = 0;
};

void loadDecomposition() {
  UnicodeTables& t = tables();
  if (t.decompositionLoaded.load(std::memory_order_acquire)) return;
  SectionLock lock(unicodeLock());
  if (t.decompositionLoaded.load(std::memory_order_relaxed)) return;
  WordReader in(data::kDecomposition, data::kDecompositionSize);
  const std::uint32_t count = in.next();
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t code = in.next();
    const std::uint32_t length = in.next();
    if (length > kMaxDecompositionLength) throw EStreamError("Stream read error");
    const Mapping mapping{in.take(length), length};
    auto& table = (code & (1u << 30)) ? t.compatibility : t.canonical;
    table.at(code & kMaxTableCode) = mapping;
  }
  t.decompositionLoaded.store(true, std::memory_order_release);
}

void loadCombining() {
  UnicodeTables& t = tables();
  if (t.combiningLoaded.load(std::memory_order_acquire)) return;
  SectionLock lock(unicodeLock());
  if (t.combiningLoaded.load(std::memory_order_relaxed)) return;
  WordReader in(data::kCombining, data::kCombiningSize);
  while (!in.atEnd()) {
    const std::uint32_t cls = in.next();
    const std::uint32_t ranges = in.next();
    if (ranges > in.remaining() / 2) throw EStreamError("Stream read error");
    for (std::uint32_t r = 0; r < ranges; ++r) {
      const std::uint32_t first = in.next();
      const std::uint32_t last = std::min<std::uint32_t>(in.next(), kMaxTableCode);
      for (std::uint32_t code = first; code <= last; ++code)
        t.combining.at(code) = static_cast<std::uint8_t>(cls);
    }
  }
  t.combiningLoaded.store(true, std::memory_order_release);
}

void loadComposition() {
  UnicodeTables& t = tables();
  if (t.compositionLoaded.load(std::memory_order_acquire)) return;
  SectionLock lock(unicodeLock());
  if (t.compositionLoaded.load(std::memory_order_relaxed)) return;
  WordReader in(data::kComposition, data::kCompositionSize);
  const std::uint32_t count = in.next();
  if (count > in.remaining() / 2) throw EStreamError("Stream read error");
  const std::uint32_t* words = in.take(std::size_t{count} * 2);
  t.composition.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) t.composition[i] = {words[2 * i], words[2 * i + 1]};
  t.compositionLoaded.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Normalisation helpers

constexpr char32_t kSBase = 0xAC00, kLBase = 0x1100, kVBase = 0x1161, kTBase = 0x11A7;
constexpr char32_t kLCount = 19, kVCount = 21, kTCount = 28;
constexpr char32_t kNCount = kVCount * kTCount;  // 588
constexpr char32_t kSCount = kLCount * kNCount;  // 11172

bool isHangulSyllable(char32_t c) { return c >= kSBase && c < kSBase + kSCount; }

// Writes the decomposition of code into out (room for kMaxDecompositionLength)
// and returns its length, 0 when it has none.
std::size_t decomposeInto(char32_t code, bool compatible, char32_t* out) {
  loadDecomposition();
  if (isHangulSyllable(code)) {
    const char32_t index = code - kSBase;
    std::size_t n = 0;
    out[n++] = kLBase + index / kNCount;
    out[n++] = kVBase + (index % kNCount) / kTCount;
    if (index % kTCount != 0) out[n++] = kTBase + index % kTCount;
    return n;
  }
  const UnicodeTables& t = tables();
  Mapping m;
  if (compatible) m = t.compatibility.get(code);
  if (!m.codes) m = t.canonical.get(code);
  for (std::uint32_t i = 0; i < m.length; ++i) out[i] = m.codes[i];
  return m.codes ? m.length : 0;
}

void appendCodePoint(std::u16string& out, char32_t c) {
  if (c > 0xFFFF && c <= 0x10FFFF) {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else if (c > 0x10FFFF) {
    out.push_back(u'\uFFFD');
  } else {
    out.push_back(static_cast<char16_t>(c));
  }
}

// Appends code decomposed again and again until nothing decomposes further.
// The tables hold full decompositions, so the depth cap is never reached with
// them; it only bounds the work should a table ever map in a cycle.
void appendDecomposed(std::u16string& out, char32_t code, bool compatible, int depth) {
  char32_t parts[kMaxDecompositionLength];
  const std::size_t n = depth < 8 ? decomposeInto(code, compatible, parts) : 0;
  if (n == 0) {
    appendCodePoint(out, code);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) appendDecomposed(out, parts[i], compatible, depth + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Normalisation

LCID GetUserDefaultLCID() { return LOCALE_USER_DEFAULT; }

std::u32string DecomposeHangul(char32_t S) {
  if (!isHangulSyllable(S)) return std::u32string(1, S);
  char32_t parts[kMaxDecompositionLength];
  const std::size_t n = decomposeInto(S, false, parts);
  return std::u32string(parts, n);
}

std::u32string UnicodeDecompose(char32_t Code, bool Compatible) {
  char32_t parts[kMaxDecompositionLength];
  const std::size_t n = decomposeInto(Code, Compatible, parts);
  return std::u32string(parts, n);
}

std::uint8_t CanonicalCombiningClass(char32_t Code) {
  loadCombining();
  return tables().combining.get(Code);
}

bool UnicodeComposePair(char32_t First, char32_t Second, char32_t& Composite) {
  // The key packs two 16-bit values; anything wider has no pair.
  if (First > 0xFFFF || Second > 0xFFFF) return false;
  loadComposition();
  const auto& pairs = tables().composition;
  const std::uint32_t key = (static_cast<std::uint32_t>(First) << 16) | Second;
  auto it = std::lower_bound(pairs.begin(), pairs.end(), key,
                             [](const CompositionPair& p, std::uint32_t k) { return p.key < k; });
  if (it == pairs.end() || it->key != key) return false;
  Composite = it->composite;
  return true;
}

void WideCanonicalOrder(std::u16string& S) {
  // Within each run of non-starters, a stable sort by class; starters never
  // move and nothing crosses one. A sort per run, not pairwise exchanges: a
  // hostile name may hold thousands of marks in reverse order.
  std::vector<std::pair<std::uint8_t, char16_t>> run;
  std::size_t i = 0;
  while (i < S.size()) {
    if (CanonicalCombiningClass(S[i]) == 0) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    run.clear();
    while (i < S.size()) {
      const std::uint8_t cls = CanonicalCombiningClass(S[i]);
      if (cls == 0) break;
      run.emplace_back(cls, S[i]);
      ++i;
    }
    if (run.size() < 2) continue;
    std::stable_sort(run.begin(), run.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t k = 0; k < run.size(); ++k) S[start + k] = run[k].second;
  }
}

std::u16string WideDecompose(std::u16string_view S, bool Compatible) {
  std::u16string out;
  out.reserve(S.size());
  for (char16_t unit : S) appendDecomposed(out, unit, Compatible, 0);
  WideCanonicalOrder(out);
  return out;
}

std::u16string WideComposeHangul(std::u16string_view S) {
  std::u16string out;
  out.reserve(S.size());
  for (char16_t current : S) {
    if (!out.empty()) {
      const char16_t last = out.back();
      if (last >= kLBase && last < kLBase + kLCount && current >= kVBase &&
          current < kVBase + kVCount) {
        out.back() = static_cast<char16_t>(
            kSBase + ((last - kLBase) * kVCount + (current - kVBase)) * kTCount);
        continue;
      }
      if (isHangulSyllable(last) && (last - kSBase) % kTCount == 0 && current > kTBase &&
          current < kTBase + kTCount) {
        out.back() = static_cast<char16_t>(last + (current - kTBase));
        continue;
      }
    }
    out.push_back(current);
  }
  return out;
}

std::u16string WideCompose(std::u16string_view S) {
  std::u16string text = WideComposeHangul(S);
  if (text.empty()) return text;
  std::size_t starterPos = 0;
  char32_t starter = text[0];
  int lastClass = CanonicalCombiningClass(starter);
  if (lastClass != 0) lastClass = 256;  // a leading mark composes with nothing
  std::size_t out = 1;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char16_t c = text[i];
    const int cls = CanonicalCombiningClass(c);
    char32_t composite = 0;
    if (UnicodeComposePair(starter, c, composite) && (lastClass == 0 || lastClass < cls)) {
      text[starterPos] = static_cast<char16_t>(composite);
      starter = composite;
      continue;
    }
    if (cls == 0) {
      starterPos = out;
      starter = c;
    }
    lastClass = cls;
    text[out++] = c;
  }
  text.resize(out);
  return text;
}

std::u16string WideNormalize(std::u16string_view S, TNormalForm Form) {
  switch (Form) {
    case nfNone:
      return std::u16string(S);
    case nfD:
    case nfKD:
      return WideDecompose(S, Form == nfKD);
    default:
      return WideCompose(WideDecompose(S, Form == nfKC));
  }
}

// ---------------------------------------------------------------------------
// Comparison
//
// Both texts are folded to lower case (full Unicode case mapping of C.UTF-8,
// whatever the environment's character type) and then collated by the user's
// locale from the environment. wcscoll stops at a NUL, and native names may
// hold NULs, so the texts are compared NUL-separated segment by segment.

namespace {

class CompareLocales {
public:
  CompareLocales() {
    collate_ = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "", locale_t{});
    if (!collate_) collate_ = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (!collate_) collate_ = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "C", locale_t{});
    fold_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    if (!fold_ && collate_) fold_ = duplocale(collate_);
  }
  ~CompareLocales() {
    if (fold_) freelocale(fold_);
    if (collate_) freelocale(collate_);
  }
  CompareLocales(const CompareLocales&) = delete;
  CompareLocales& operator=(const CompareLocales&) = delete;

  locale_t collate() const { return collate_; }
  locale_t fold() const { return fold_; }

private:
  locale_t collate_{};
  locale_t fold_{};
};

const CompareLocales& compareLocales() {
  static const CompareLocales locales;
  return locales;
}

// UTF-16 to folded wchar_t (UTF-32); a lone surrogate keeps its own value.
void foldToWide(std::u16string_view s, locale_t fold, std::wstring& out) {
  out.clear();
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    wint_t w = static_cast<wint_t>(c);
    if (fold && c != 0) w = towlower_l(w, fold);
    out.push_back(static_cast<wchar_t>(w));
  }
}

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

namespace {

int compareWide(std::u16string_view A, std::u16string_view B, bool ignoreCase) {
  const CompareLocales& locales = compareLocales();
  const locale_t fold = ignoreCase ? locales.fold() : locale_t{};
  thread_local std::wstring a, b;
  foldToWide(A, fold, a);
  foldToWide(B, fold, b);
  std::size_t pa = 0, pb = 0;
  for (;;) {
    // a and b hold a NUL after their last character (std::wstring guarantees
    // it), so each segment is a NUL-terminated C string.
    const int c = locales.collate() ? wcscoll_l(a.c_str() + pa, b.c_str() + pb, locales.collate())
                                    : wcscmp(a.c_str() + pa, b.c_str() + pb);
    if (c != 0) return sign(c);
    const std::size_t ea = a.find(L'\0', pa), eb = b.find(L'\0', pb);
    const bool moreA = ea != std::wstring::npos, moreB = eb != std::wstring::npos;
    if (!moreA || !moreB) return moreA == moreB ? 0 : (moreA ? 1 : -1);
    pa = ea + 1;
    pb = eb + 1;
  }
}

}  // namespace

// Every locale identifier the program uses means the user's locale.
int WideCompareText(std::u16string_view A, std::u16string_view B, LCID) { return compareWide(A, B, true); }

int WideCompareStr(std::u16string_view A, std::u16string_view B, LCID) { return compareWide(A, B, false); }

// ---------------------------------------------------------------------------
// Code pages and UTF-8

unsigned CodePageFromLocale(LCID Locale) {
  (void)Locale;
  return platform::activeCodePage();
}

std::u16string MultiByteToWide(unsigned CodePage, std::string_view Text) {
  return platform::codePageToWide(CodePage, Text);
}

std::string WideToMultiByte(unsigned CodePage, std::u16string_view Text) {
  return platform::wideToCodePage(CodePage, Text);
}

std::string WideStringToUTF8(std::u16string_view S) {
  std::string out;
  out.reserve(S.size() * 3);
  for (std::size_t i = 0; i < S.size(); ++i) {
    char32_t c = S[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < S.size() && S[i + 1] >= 0xDC00 &&
        S[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (S[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string UTF8ToWideString(std::string_view S) {
  std::u16string out;
  out.reserve(S.size());
  std::size_t i = 0;
  while (i < S.size()) {
    const auto lead = static_cast<unsigned char>(S[i++]);
    char32_t c;
    std::size_t more;
    if (lead < 0x80) {
      c = lead, more = 0;
    } else if (lead < 0xC0) {
      c = 0xFFFD, more = 0;  // a continuation byte with no lead
    } else if (lead < 0xE0) {
      c = lead & 0x1F, more = 1;
    } else if (lead < 0xF0) {
      c = lead & 0x0F, more = 2;
    } else if (lead < 0xF8) {
      c = lead & 0x07, more = 3;
    } else if (lead < 0xFC) {
      c = lead & 0x03, more = 4;
    } else {
      c = lead & 0x01, more = 5;
    }
    for (; more > 0 && i < S.size(); --more)
      c = (c << 6) | (static_cast<unsigned char>(S[i++]) & 0x3F);
    appendCodePoint(out, c);
  }
  return out;
}

void StrSwapByteOrder(std::u16string& S) {
  for (char16_t& c : S) c = static_cast<char16_t>((c >> 8) | (c << 8));
}

// ---------------------------------------------------------------------------
// TWideStrings

namespace {

std::string indexError(int index) {
  return "List index out of bounds (" + std::to_string(index) + ")";
}

bool isLineBreak(char16_t c) {
  return c == 0 || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r' || c == 0x2028 ||
         c == 0x2029;
}

// Ends an update on every way out of a scope.
class UpdateScope {
public:
  explicit UpdateScope(TWideStrings& list) : list_(list) { list_.BeginUpdate(); }
  ~UpdateScope() { list_.EndUpdate(); }
  UpdateScope(const UpdateScope&) = delete;
  UpdateScope& operator=(const UpdateScope&) = delete;

private:
  TWideStrings& list_;
};

}  // namespace

TWideStrings::TWideStrings() : FLanguage(GetUserDefaultLCID()) {}
TWideStrings::~TWideStrings() = default;

void TWideStrings::Assign(const TWideStrings& Source) {
  if (&Source == this) return;
  UpdateScope update(*this);
  Clear();
  AddWideStrings(Source);
}

void TWideStrings::Assign(const std::vector<std::string>& Source) {
  UpdateScope update(*this);
  Clear();
  AddAnsiStrings(Source);
}

void TWideStrings::AssignTo(TWideStrings& Dest) const { Dest.Assign(*this); }

void TWideStrings::AssignTo(std::vector<std::string>& Dest) const {
  const unsigned codePage = CodePageFromLocale(FLanguage);
  Dest.clear();
  for (int i = 0; i < GetCount(); ++i) Dest.push_back(WideToMultiByte(codePage, GetString(i)));
}

bool TWideStrings::ConfirmConversion() {
  bool allowed = true;
  if (OnConfirmConversion) OnConfirmConversion(*this, allowed);
  return allowed;
}

std::u16string TWideStrings::GetAllText() const { return GetSeparatedText(u"\r\n"); }

std::u16string TWideStrings::GetSeparatedText(std::u16string_view Separator) const {
  std::u16string text;
  const int count = GetCount();
  for (int i = 0; i < count; ++i) {
    if (i > 0) text.append(Separator);
    text += GetString(i);
  }
  return text;
}

int TWideStrings::Add(std::u16string_view S) {
  const int index = GetCount();
  Insert(index, S);
  return index;
}

int TWideStrings::AddObject(std::u16string_view S, TObjectRef Obj) {
  const int index = Add(S);
  PutObject(index, Obj);
  return index;
}

void TWideStrings::AddAnsiStrings(const std::vector<std::string>& Strings) {
  const unsigned codePage = CodePageFromLocale(FLanguage);
  UpdateScope update(*this);
  for (const std::string& line : Strings) Add(MultiByteToWide(codePage, line));
}

void TWideStrings::AddWideStrings(const TWideStrings& Strings) {
  UpdateScope update(*this);
  const bool sameLanguage = Strings.Language() == FLanguage;
  const unsigned from = CodePageFromLocale(Strings.Language());
  const unsigned to = CodePageFromLocale(FLanguage);
  const int count = Strings.GetCount();
  for (int i = 0; i < count; ++i) {
    std::u16string line = Strings.GetString(i);
    if (!sameLanguage) line = MultiByteToWide(to, WideToMultiByte(from, line));
    AddObject(line, Strings.GetObject(i));
  }
}

void TWideStrings::Exchange(int Index1, int Index2) {
  UpdateScope update(*this);
  const std::u16string s1 = GetString(Index1);
  const TObjectRef o1 = GetObject(Index1);
  PutString(Index1, GetString(Index2));
  PutObject(Index1, GetObject(Index2));
  PutString(Index2, s1);
  PutObject(Index2, o1);
}

int TWideStrings::IndexOf(std::u16string_view S) const {
  const std::u16string normal = WideNormalize(S, FNormalForm);
  const int count = GetCount();
  for (int i = 0; i < count; ++i)
    if (WideCompareText(GetString(i), normal, FLanguage) == 0) return i;
  return -1;
}

void TWideStrings::InsertObject(int Index, std::u16string_view S, TObjectRef Obj) {
  Insert(Index, S);
  PutObject(Index, Obj);
}

void TWideStrings::LoadFromFile(const std::string& FileName) {
  std::ifstream in(FileName, std::ios::binary);
  if (!in)
    throw EStreamError("Cannot open file \"" + FileName + "\". " + std::strerror(errno));
  LoadFromStream(in);
}

void TWideStrings::LoadFromStream(std::istream& Stream) {
  std::string bytes{std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>()};
  if (Stream.bad()) throw EStreamError("Stream read error");
  auto starts = [&bytes](std::string_view bom) { return bytes.compare(0, bom.size(), bom) == 0; };
  std::u16string text;
  if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    const bool little = starts("\xFF\xFE");
    FTextFormat = little ? wtfUtf16LE : wtfUtf16BE;
    // A trailing odd byte is half a character and is dropped.
    text.reserve((bytes.size() - 2) / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto b0 = static_cast<unsigned char>(bytes[i]);
      const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
      text.push_back(static_cast<char16_t>(little ? (b0 | b1 << 8) : (b0 << 8 | b1)));
    }
  } else if (starts("\xEF\xBB\xBF")) {
    FTextFormat = wtfUtf8;
    text = UTF8ToWideString(std::string_view(bytes).substr(3));
  } else {
    FTextFormat = wtfAnsi;
    text = platform::ansiToWide(bytes);
  }
  SetAllText(text);
}

void TWideStrings::Move(int CurIndex, int NewIndex) {
  if (CurIndex == NewIndex) return;
  const std::u16string s = GetString(CurIndex);
  const TObjectRef o = GetObject(CurIndex);
  UpdateScope update(*this);
  Delete(CurIndex);
  InsertObject(NewIndex, s, o);
}

void TWideStrings::SaveToFile(const std::string& FileName) {
  std::ofstream out(FileName, std::ios::binary | std::ios::trunc);
  if (!out)
    throw EStreamError("Cannot create file \"" + FileName + "\". " + std::strerror(errno));
  SaveToStream(out);
  out.close();
  if (!out) throw EStreamError("Stream write error");
}

void TWideStrings::SaveToStream(std::ostream& Stream) {
  FSaved = false;
  const std::u16string text = GetAllText();
  std::string bytes;
  switch (FTextFormat) {
    case wtfUtf16LE:
    case wtfUtf16BE: {
      const bool little = FTextFormat == wtfUtf16LE;
      bytes = little ? "\xFF\xFE" : "\xFE\xFF";
      bytes.reserve(2 + text.size() * 2);
      for (char16_t c : text) {
        const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        bytes.push_back(little ? lo : hi);
        bytes.push_back(little ? hi : lo);
      }
      break;
    }
    case wtfUtf8:
      bytes = "\xEF\xBB\xBF" + WideStringToUTF8(text);
      break;
    default: {
      const bool wide = std::any_of(text.begin(), text.end(), [](char16_t c) { return c > 0xFF; });
      if (wide && OnConfirmConversion && !ConfirmConversion()) return;
      bytes = WideToMultiByte(CodePageFromLocale(FLanguage), text);
      break;
    }
  }
  Stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!Stream) throw EStreamError("Stream write error");
  FSaved = true;
}

void TWideStrings::SetAllText(std::u16string_view Value) {
  UpdateScope update(*this);
  Clear();
  std::size_t start = 0;
  const std::size_t n = Value.size();
  while (start < n) {
    std::size_t end = start;
    while (end < n && !isLineBreak(Value[end])) ++end;
    Add(Value.substr(start, end - start));
    if (end < n && Value[end] == u'\r' && end + 1 < n && Value[end + 1] == u'\n') ++end;
    start = end + 1;
  }
}

void TWideStrings::BeginUpdate() {
  if (FUpdateCount == 0) UpdatingChanged(true);
  ++FUpdateCount;
}

void TWideStrings::EndUpdate() {
  if (FUpdateCount == 0) return;  // an unmatched end would leave the count negative
  --FUpdateCount;
  if (FUpdateCount == 0) UpdatingChanged(false);
}

// ---------------------------------------------------------------------------
// TWideStringList

TWideStringList::TWideStringList() = default;

TWideStringList::~TWideStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  Clear();
}

void TWideStringList::CheckIndex(int Index) const {
  if (Index < 0 || Index >= FCount) throw EStringListError(indexError(Index));
}

int TWideStringList::Compare(std::u16string_view A, std::u16string_view B) const {
  return WideCompareText(A, B, FLanguage);
}

void TWideStringList::StoreText(Item& item, std::u16string_view S) const {
  if (FNormalForm != nfNone && !S.empty())
    item.text = WideNormalize(S, FNormalForm);
  else
    item.text.assign(S);
  item.rawDiffers = item.text != S;
  if (item.rawDiffers)
    item.raw.assign(S);
  else
    item.raw.clear();
}

std::u16string TWideStringList::GetString(int Index) const {
  CheckIndex(Index);
  return FList[static_cast<std::size_t>(Index)].text;
}

std::u16string TWideStringList::rawString(int Index) const {
  CheckIndex(Index);
  const Item& item = FList[static_cast<std::size_t>(Index)];
  return item.rawDiffers ? item.raw : item.text;
}

int TWideStringList::GetCapacity() const { return static_cast<int>(FList.size()); }

int TWideStringList::GetCount() const { return FCount; }

TObjectRef TWideStringList::GetObject(int Index) const {
  CheckIndex(Index);
  return FList[static_cast<std::size_t>(Index)].object;
}

void TWideStringList::PutString(int Index, std::u16string_view S) {
  if (FSorted) throw EStringListError("Operation not allowed on sorted list");
  CheckIndex(Index);
  NotifyChanging();
  StoreText(FList[static_cast<std::size_t>(Index)], S);
  NotifyChanged();
}

void TWideStringList::PutObject(int Index, TObjectRef Obj) {
  CheckIndex(Index);
  NotifyChanging();
  FList[static_cast<std::size_t>(Index)].object = Obj;
  NotifyChanged();
}

void TWideStringList::SetCapacity(int NewCapacity) {
  if (NewCapacity < 0)
    throw EStringListError("List capacity out of bounds (" + std::to_string(NewCapacity) + ")");
  FList.resize(static_cast<std::size_t>(NewCapacity));
  FList.shrink_to_fit();
  if (FCount > NewCapacity) FCount = NewCapacity;
}

void TWideStringList::Grow() {
  const int capacity = GetCapacity();
  int delta = 4;
  if (capacity > 64)
    delta = capacity / 4;
  else if (capacity > 8)
    delta = 16;
  FList.resize(static_cast<std::size_t>(capacity) + static_cast<std::size_t>(delta));
}

void TWideStringList::SetLanguage(LCID Value) {
  TWideStrings::SetLanguage(Value);
  if (FSorted && FCount > 1) {
    NotifyChanging();
    QuickSort(0, FCount - 1);
    NotifyChanged();
  }
}

int TWideStringList::Add(std::u16string_view S) {
  int index = FCount;
  if (FSorted && Find(S, index)) {
    switch (FDuplicates) {
      case dupIgnore:
        return index;
      case dupError:
        throw EStringListError("String list does not allow duplicates");
      case dupAccept:
        break;
    }
  }
  InsertItem(index, S);
  return index;
}

void TWideStringList::Insert(int Index, std::u16string_view S) {
  if (FSorted) throw EStringListError("Operation not allowed on sorted list");
  if (Index < 0 || Index > FCount) throw EStringListError(indexError(Index));
  InsertItem(Index, S);
}

void TWideStringList::InsertItem(int Index, std::u16string_view S) {
  NotifyChanging();
  if (FCount == GetCapacity()) Grow();
  auto first = FList.begin() + Index;
  std::move_backward(first, FList.begin() + FCount, FList.begin() + FCount + 1);
  *first = Item{};
  StoreText(*first, S);
  ++FCount;
  NotifyChanged();
}

void TWideStringList::Delete(int Index) {
  CheckIndex(Index);
  NotifyChanging();
  std::move(FList.begin() + Index + 1, FList.begin() + FCount, FList.begin() + Index);
  --FCount;
  FList[static_cast<std::size_t>(FCount)] = Item{};
  NotifyChanged();
}

void TWideStringList::Exchange(int Index1, int Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  NotifyChanging();
  std::swap(FList[static_cast<std::size_t>(Index1)], FList[static_cast<std::size_t>(Index2)]);
  NotifyChanged();
}

void TWideStringList::Clear() {
  if (FCount == 0) return;
  NotifyChanging();
  FList.clear();
  FCount = 0;
  SetCapacity(0);
  NotifyChanged();
}

int TWideStringList::IndexOf(std::u16string_view S) const {
  if (!FSorted) return TWideStrings::IndexOf(S);
  int index = -1;
  return Find(S, index) ? index : -1;
}

bool TWideStringList::Find(std::u16string_view S, int& Index) const {
  const std::u16string normal = WideNormalize(S, FNormalForm);
  return FindInSorted(
      FCount, [&](int i) { return Compare(FList[static_cast<std::size_t>(i)].text, normal); }, true, Index);
}

void TWideStringList::Sort() {
  if (FSorted || FCount < 2) return;
  NotifyChanging();
  QuickSort(0, FCount - 1);
  NotifyChanged();
}

void TWideStringList::SetSorted(bool Value) {
  if (FSorted == Value) return;
  if (Value) Sort();
  FSorted = Value;
}

void TWideStringList::QuickSort(int L, int R) {
  QuickSortItems(
      FList, L, R, [](const Item& item) -> std::u16string_view { return item.text; },
      [this](std::u16string_view a, std::u16string_view b) { return Compare(a, b); });
}

void TWideStringList::UpdatingChanged(bool Updating) {
  if (Updating)
    NotifyChanging();
  else
    NotifyChanged();
}

void TWideStringList::NotifyChanged() {
  if (FUpdateCount == 0 && OnChange) OnChange(*this);
}

void TWideStringList::NotifyChanging() {
  if (FUpdateCount == 0 && OnChanging) OnChanging(*this);
}

namespace {
const TUnitVersionInfo kUnitVersion{"SupUnicode.cpp", "1.0", "", "unicode", "", nullptr};
const UnitVersionRegistration kRegistration(kUnitVersion);
}  // namespace

}  // namespace sup
