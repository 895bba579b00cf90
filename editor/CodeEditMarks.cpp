#include "editor/CodeEditMarks.h"

#include "editor/CodeEditCore.h"

#include <algorithm>

namespace codeedit {

TCodeEditMark::TCodeEditMark(TCodeEditCore* AOwner) : FOwnerEdit(AOwner) {}

TCodeEditCore* TCodeEditMark::GetEdit() {
  if (FOwnerEdit == nullptr)
    return nullptr;
  try {
    if (FOwnerEdit->Marks().IndexOf(this) < 0)
      FOwnerEdit = nullptr;
  } catch (...) {
    FOwnerEdit = nullptr;
  }
  return FOwnerEdit;
}

void TCodeEditMark::InvalidateGutterLine(std::int32_t Line) {
  if (FOwnerEdit != nullptr && Line > 0)
    FOwnerEdit->InvalidateGutterLine(Line);
}

void TCodeEditMark::SetLine(std::int32_t Value) {
  if (FShown && FOwnerEdit != nullptr) {
    InvalidateGutterLine(FLine);
    InvalidateGutterLine(Value);
  }
  FLine = Value;
}

void TCodeEditMark::SetImageNumber(std::int32_t Value) {
  FImageNumber = Value;
  if (FShown)
    InvalidateGutterLine(FLine);
}

void TCodeEditMark::SetInternalImage(bool Value) {
  FInternalImage = Value;
  if (FShown)
    InvalidateGutterLine(FLine);
}

void TCodeEditMark::SetShown(bool Value) {
  if (FShown == Value)
    return;
  FShown = Value;
  InvalidateGutterLine(FLine);
}

TCodeEditMark* TCodeEditMarkList::GetItem(int Index) const {
  if (Index < 0 || Index >= Count())
    return nullptr;
  return FItems[static_cast<std::size_t>(Index)].get();
}

int TCodeEditMarkList::IndexOf(const TCodeEditMark* Mark) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == Mark)
      return static_cast<int>(i);
  return -1;
}

void TCodeEditMarkList::Add(std::unique_ptr<TCodeEditMark> Mark) {
  if (!Mark)
    return;
  FItems.push_back(std::move(Mark));
  Notify();
}

bool TCodeEditMarkList::Remove(TCodeEditMark* Mark) {
  std::unique_ptr<TCodeEditMark> Taken = Extract(Mark);
  return Taken != nullptr;
}

std::unique_ptr<TCodeEditMark> TCodeEditMarkList::Extract(TCodeEditMark* Mark) {
  int Index = IndexOf(Mark);
  if (Index < 0)
    return nullptr;
  std::unique_ptr<TCodeEditMark> Taken = std::move(FItems[static_cast<std::size_t>(Index)]);
  FItems.erase(FItems.begin() + Index);
  Notify();
  return Taken;
}

void TCodeEditMarkList::Clear() {
  if (FItems.empty())
    return;
  FItems.clear();
  Notify();
}

void TCodeEditMarkList::GetLineMarks(std::int32_t Line, TCodeEditMarks& Marks) const {
  Marks.fill(nullptr);
  std::size_t n = 0;
  for (const auto& Mark : FItems) {
    if (n == Marks.size())
      break;
    if (Mark->Line() == Line)
      Marks[n++] = Mark.get();
  }
}

void TCodeEditMarkList::Notify() {
  if (OnChange)
    OnChange(*this);
}

}  // namespace codeedit
