#include "editor/CodeEditSearch.h"

#include "editor/CodeEditMiscProcs.h"
#include "editor/CodeEditTextBuffer.h"
#include "editor/CodeUnicode.h"

namespace codeedit {

namespace {

void FoldInto(std::u16string_view S, std::u16string& Result) {
  Result.assign(S);
  WideCharLowerBuff(Result.data(), Result.size());
}

}  // namespace

void TCodeEditSearch::SetPattern(const std::u16string& Value) {
  FPattern = Value;
  FoldInto(FPattern, FFoldedPattern);
}

void TCodeEditSearch::SetOptions(TCodeSearchOptions Options) { FOptions = Options; }

void TCodeEditSearch::CheckIndex(int Index) const {
  if (Index < 0 || Index >= GetResultCount())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
}

int TCodeEditSearch::GetLength(int Index) const {
  CheckIndex(Index);
  return static_cast<int>(FPattern.size());
}

int TCodeEditSearch::GetResult(int Index) const {
  CheckIndex(Index);
  return FResults[static_cast<std::size_t>(Index)];
}

bool TCodeEditSearch::IsWholeWord(std::u16string_view Line, std::size_t Pos) const {
  // Only a word character at the pattern's edge can continue a word there.
  const std::size_t End = Pos + FPattern.size();
  if (Pos > 0 && !IsDefaultWordBreakChar(FPattern.front()) && !IsDefaultWordBreakChar(Line[Pos - 1]))
    return false;
  return End >= Line.size() || IsDefaultWordBreakChar(FPattern.back()) || IsDefaultWordBreakChar(Line[End]);
}

int TCodeEditSearch::FindAll(const std::u16string& Line) {
  FResults.clear();
  if (FPattern.empty() || FPattern.size() > Line.size())
    return 0;
  std::u16string_view Text = Line;
  std::u16string_view Pattern = FPattern;
  if ((FOptions & ssoMatchCase) == 0) {
    FoldInto(Line, FFoldedLine);
    Text = FFoldedLine;
    Pattern = FFoldedPattern;
  }
  const bool WholeWord = (FOptions & ssoWholeWord) != 0;
  std::size_t From = 0;
  for (;;) {
    const std::size_t Pos = Text.find(Pattern, From);
    if (Pos == std::u16string_view::npos)
      break;
    if (WholeWord && !IsWholeWord(Line, Pos)) {
      From = Pos + 1;
      continue;
    }
    FResults.push_back(static_cast<int>(Pos) + 1);
    From = Pos + Pattern.size();
  }
  return GetResultCount();
}

std::u16string TCodeEditSearch::Replace(const std::u16string&, const std::u16string& ReplaceWith) {
  return ReplaceWith;
}

}  // namespace codeedit
