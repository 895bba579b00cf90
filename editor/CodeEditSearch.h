#pragma once

// A plain-text search engine for the editor: the pattern is found as it
// stands, without regard to case unless ssoMatchCase is set, and with
// ssoWholeWord only where it does not continue a word of the line: a word
// character at either edge of the pattern must not have one beside it.
// Word characters are those that are no default word break of the editor.

#include <string>
#include <vector>

#include "editor/CodeEditMiscClasses.h"

namespace codeedit {

class TCodeEditSearch : public TCodeEditSearchCustom {
public:
  void SetPattern(const std::u16string& Value) override;
  // Both raise EListError "List index out of bounds (%d)" outside
  // 0..GetResultCount() - 1.
  int GetLength(int Index) const override;
  int GetResult(int Index) const override;
  int GetResultCount() const override { return static_cast<int>(FResults.size()); }
  void SetOptions(TCodeSearchOptions Options) override;
  // Matches do not overlap: the next one is looked for after the end of the
  // one before, so each can be replaced. An empty pattern finds nothing.
  int FindAll(const std::u16string& Line) override;
  // The replacement text as it stands.
  std::u16string Replace(const std::u16string& Found, const std::u16string& ReplaceWith) override;

  const std::u16string& Pattern() const { return FPattern; }
  TCodeSearchOptions Options() const { return FOptions; }

private:
  void CheckIndex(int Index) const;
  bool IsWholeWord(std::u16string_view Line, std::size_t Pos) const;

  std::u16string FPattern;
  std::u16string FFoldedPattern;  // lower case, for searches that ignore case
  std::u16string FFoldedLine;     // kept to reuse its storage from line to line
  TCodeSearchOptions FOptions = 0;
  std::vector<int> FResults;  // 1-based positions
};

}  // namespace codeedit
