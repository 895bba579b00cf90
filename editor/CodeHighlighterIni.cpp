#include "editor/CodeHighlighterIni.h"

namespace codeedit {

namespace {

bool isAsciiLetter(char16_t Ch) { return (Ch >= u'a' && Ch <= u'z') || (Ch >= u'A' && Ch <= u'Z'); }
bool isDigit(char16_t Ch) { return Ch >= u'0' && Ch <= u'9'; }

// The class is known to the program as soon as the program holds this unit.
const bool registered = [] {
  TCodeCustomHighlighter::RegisterHighlighterClass(&TCodeIniHighlighter::staticMetaObject);
  return true;
}();

}  // namespace

TCodeIniHighlighter::TCodeIniHighlighter(QObject* Owner) : TCodeCustomHighlighter(Owner) {
  auto add = [this](const char* name, const char16_t* caption) {
    auto attribute = std::make_unique<TCodeHighlighterAttributes>(name, caption);
    TCodeHighlighterAttributes* result = attribute.get();
    AddAttribute(std::move(attribute));
    return result;
  };
  FCommentAttri = add("Comment", u"Comment");
  FCommentAttri->SetStyle(fsItalic);
  FCommentAttri->SetForeground(clGreen);
  FTextAttri = add("Text", u"Text");
  FSectionAttri = add("Section", u"Section");
  FSectionAttri->SetStyle(fsBold);
  FKeyAttri = add("Key", u"Key");
  FNumberAttri = add("Number", u"Number");
  FSpaceAttri = add("Space", u"Space");
  FStringAttri = add("String", u"String");
  FSymbolAttri = add("Symbol", u"Symbol");
  SetAttributesOnChange();
  SetDefaultFilter(DefaultIniFilter);
}

TCodeHighlighterAttributes* TCodeIniHighlighter::DefaultAttribute(int Kind) const {
  switch (Kind) {
    case CODE_ATTR_COMMENT:
      return FCommentAttri;
    case CODE_ATTR_KEYWORD:
      return FKeyAttri;
    case CODE_ATTR_STRING:
      return FStringAttri;
    case CODE_ATTR_WHITESPACE:
      return FSpaceAttri;
    case CODE_ATTR_SYMBOL:
      return FSymbolAttri;
    default:
      return nullptr;
  }
}

std::u16string TCodeIniHighlighter::SampleText() const {
  return u"; Syntax highlighting\r\n"
         u"[Section]\r\n"
         u"Key=value\r\n"
         u"String=\"Arial\"\r\n"
         u"Number=123456";
}

bool TCodeIniHighlighter::DefaultFilterIsStored() const { return GetDefaultFilter() != DefaultIniFilter; }

TCodeHighlighterAttributes* TCodeIniHighlighter::CurrentTokenAttribute() const {
  switch (FTokenKind) {
    case itComment:
      return FCommentAttri;
    case itText:
    case itOther:
      return FTextAttri;
    case itSection:
      return FSectionAttri;
    case itKey:
      return FKeyAttri;
    case itNumber:
      return FNumberAttri;
    case itSpace:
      return FSpaceAttri;
    case itString:
      return FStringAttri;
    case itSymbol:
      return FSymbolAttri;
    case itNull:
      break;
  }
  return nullptr;
}

// The scan line ends in a NUL at FScanLength, and no rule moves past it but
// the end-of-line token, so every look at FScanPos stays inside the line.
bool TCodeIniHighlighter::atLineBreak(int Index) const {
  const char16_t c = at(Index);
  return c == u'\0' || c == u'\n' || c == u'\r';
}

void TCodeIniHighlighter::ScanNextToken() {
  FTokenStart = FScanPos;
  // A line may hold a NUL of its own; the scan still ends at its real end.
  const char16_t c = FScanPos < FScanLength ? at(FScanPos) : u'\0';
  if (FScanPos >= FScanLength) {
    FTokenKind = itNull;
    ++FScanPos;
  } else if (c == u'\0') {
    scanSpace();
  } else if (c == u'\n') {
    FTokenKind = itSpace;
    ++FScanPos;
  } else if (c == u'\r') {
    FTokenKind = itSpace;
    FScanPos += at(FScanPos + 1) == u'\n' ? 2 : 1;
  } else if (c <= 32) {
    scanSpace();
  } else if (c == u'"' || c == u'\'') {
    scanString(c);
  } else if (isDigit(c)) {
    scanNumber();
  } else if (c == u';') {
    scanComment();
  } else if (c == u'=') {
    FTokenKind = itSymbol;
    ++FScanPos;
  } else if (c == u'[') {
    scanSection();
  } else {
    scanText();
  }
  TCodeCustomHighlighter::ScanNextToken();
}

void TCodeIniHighlighter::scanSpace() {
  FTokenKind = itSpace;
  ++FScanPos;
  while (FScanPos < FScanLength && at(FScanPos) <= 32 && !IsLineEnd(FScanPos))
    ++FScanPos;
}

void TCodeIniHighlighter::scanSection() {
  if (FScanPos != 0) {
    FTokenKind = itText;
    ++FScanPos;
    return;
  }
  FTokenKind = itSection;
  ++FScanPos;
  while (FScanPos < FScanLength && !atLineBreak(FScanPos))
    if (at(FScanPos++) == u']')
      break;
}

void TCodeIniHighlighter::scanComment() {
  if (FScanPos != 0) {
    FTokenKind = itText;
    ++FScanPos;
    return;
  }
  FTokenKind = itComment;
  ++FScanPos;
  while (FScanPos < FScanLength && !atLineBreak(FScanPos))
    ++FScanPos;
}

void TCodeIniHighlighter::scanKey() {
  FTokenKind = itKey;
  ++FScanPos;
  while (FScanPos < FScanLength && !atLineBreak(FScanPos) && at(FScanPos) != u'=')
    ++FScanPos;
}

void TCodeIniHighlighter::scanNumber() {
  if (FScanPos == 0) {
    scanKey();
    return;
  }
  FTokenKind = itNumber;
  ++FScanPos;
  while (FScanPos < FScanLength) {
    const char16_t c = at(FScanPos);
    if (c != u'.' && c != u'e' && c != u'E' && !isDigit(c))
      break;
    ++FScanPos;
  }
  // Digits run into letters: the whole run is text.
  if (FScanPos < FScanLength && isAsciiLetter(at(FScanPos))) {
    FTokenKind = itText;
    while (FScanPos < FScanLength && (isAsciiLetter(at(FScanPos)) || isDigit(at(FScanPos))))
      ++FScanPos;
  }
}

void TCodeIniHighlighter::scanText() {
  if (FScanPos == 0) {
    scanKey();
    return;
  }
  FTokenKind = itText;
  ++FScanPos;
  while (FScanPos < FScanLength && (isAsciiLetter(at(FScanPos)) || isDigit(at(FScanPos))))
    ++FScanPos;
}

void TCodeIniHighlighter::scanString(char16_t Quote) {
  FTokenKind = itString;
  // A tripled quote skips two of its quotes; the string closes at the next one.
  if (FScanPos + 2 < FScanLength && at(FScanPos + 1) == Quote && at(FScanPos + 2) == Quote)
    FScanPos += 2;
  while (FScanPos < FScanLength && !atLineBreak(FScanPos)) {
    ++FScanPos;
    if (FScanPos < FScanLength && at(FScanPos) == Quote)
      break;
  }
  if (FScanPos < FScanLength && at(FScanPos) != u'\0')
    ++FScanPos;
}

}  // namespace codeedit
