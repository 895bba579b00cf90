#pragma once

// The highlighter for INI-style text (and the .reg text the change logs
// show): section headers, keys before "=", comment lines, strings, numbers.
// Every line is scanned on its own, from its first character, so it keeps no
// state between lines.

#include "editor/CodeEditHighlighter.h"

namespace codeedit {

enum TIniTokenKind : std::uint8_t {
  itComment = 0,
  itText = 1,
  itSection = 2,
  itKey = 3,
  itNull = 4,
  itNumber = 5,
  itSpace = 6,
  itString = 7,
  itSymbol = 8,
  itOther = 9,
};

class TCodeIniHighlighter : public TCodeCustomHighlighter {
  Q_OBJECT

public:
  explicit TCodeIniHighlighter(QObject* Owner = nullptr);

  TCodeHighlighterAttributes* DefaultAttribute(int Kind) const override;
  std::u16string SampleText() const override;
  bool DefaultFilterIsStored() const override;
  std::u16string FriendlyLanguageName() const override { return u"INI"; }
  std::string LanguageName() const override { return "INI"; }
  // Past the end-of-line token.
  bool AtLineEnd() const override { return FScanPos >= FScanLength + 1; }
  TCodeHighlighterAttributes* CurrentTokenAttribute() const override;
  int CurrentTokenKind() const override { return FTokenKind; }
  void ScanNextToken() override;
  // Every line starts afresh.
  bool HasLineRanges() const override { return false; }

  TCodeHighlighterAttributes* CommentAttri() const { return FCommentAttri; }
  TCodeHighlighterAttributes* TextAttri() const { return FTextAttri; }
  TCodeHighlighterAttributes* SectionAttri() const { return FSectionAttri; }
  TCodeHighlighterAttributes* KeyAttri() const { return FKeyAttri; }
  TCodeHighlighterAttributes* NumberAttri() const { return FNumberAttri; }
  TCodeHighlighterAttributes* SpaceAttri() const { return FSpaceAttri; }
  TCodeHighlighterAttributes* StringAttri() const { return FStringAttri; }
  TCodeHighlighterAttributes* SymbolAttri() const { return FSymbolAttri; }

  static constexpr const char* DefaultIniFilter = "INI Files (*.ini)|*.ini";

private:
  char16_t at(int Index) const { return FScanLine[static_cast<std::size_t>(Index)]; }
  bool atLineBreak(int Index) const;
  void scanSection();
  void scanComment();
  void scanKey();
  void scanNumber();
  void scanText();
  void scanString(char16_t Quote);
  void scanSpace();

  TCodeHighlighterAttributes* FCommentAttri;
  TCodeHighlighterAttributes* FTextAttri;
  TCodeHighlighterAttributes* FSectionAttri;
  TCodeHighlighterAttributes* FKeyAttri;
  TCodeHighlighterAttributes* FNumberAttri;
  TCodeHighlighterAttributes* FSpaceAttri;
  TCodeHighlighterAttributes* FStringAttri;
  TCodeHighlighterAttributes* FSymbolAttri;
  TIniTokenKind FTokenKind = itNull;
};

}  // namespace codeedit
