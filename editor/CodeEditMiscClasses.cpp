#include "editor/CodeEditMiscClasses.h"

#include <string>
#include <utility>

namespace codeedit {

void TCodeMethodChain::Add(const TCodeMethod& Method) {
  if (Method.Code == nullptr)
    throw ECodeMethodChain(std::string(ClassName()) + ".Entry : the parameter `AEvent' must be specified.");
  FMethods.push_back(Method);
}

void TCodeMethodChain::Remove(const TCodeMethod& Method) {
  if (Method.Code == nullptr)
    throw ECodeMethodChain(std::string(ClassName()) + ".Remove: the parameter `AEvent' must be specified.");
  for (std::size_t i = FMethods.size(); i-- > 0;)
    if (FMethods[i] == Method) FMethods.erase(FMethods.begin() + static_cast<std::ptrdiff_t>(i));
}

void TCodeMethodChain::Fire() {
  // A handler may add or remove handlers: walk by index and read the list afresh.
  std::size_t i = 0;
  while (i < FMethods.size()) {
    const TCodeMethod method = FMethods[i++];
    try {
      CallEvent(method);
    } catch (const std::exception& e) {
      if (!DoHandleException(e)) return;
    }
  }
}

bool TCodeMethodChain::DoHandleException(const std::exception& E) {
  if (!ExceptionHandler) {
    // Called from Fire's catch, so the exception in flight leaves unchanged.
    if (std::current_exception()) std::rethrow_exception(std::current_exception());
    throw std::runtime_error(E.what());
  }
  bool doContinue = true;
  try {
    ExceptionHandler(*this, E, doContinue);
  } catch (...) {
    throw ECodeMethodChain(std::string(ClassName()) +
                           ".DoHandleException : MUST NOT occur any kind of exception in ExceptionHandler");
  }
  return doContinue;
}

void TCodeNotifyEventChain::CallEvent(const TCodeMethod& Method) {
  reinterpret_cast<TCodeNotifyEvent::Proc>(const_cast<void*>(Method.Code))(Method.Data, FSender);
}

}  // namespace codeedit

namespace codeedit {

// ---- TCodeSelectedColor

void TCodeSelectedColor::Changed() {
  if (OnChange)
    OnChange(*this);
}

void TCodeSelectedColor::SetBackground(TColor Value) {
  if (StoreChanged(FBackground, Value))
    Changed();
}

void TCodeSelectedColor::SetForeground(TColor Value) {
  if (StoreChanged(FForeground, Value))
    Changed();
}

void TCodeSelectedColor::Assign(const TCodeSelectedColor& Source) {
  FBackground = Source.FBackground;
  FForeground = Source.FForeground;
  Changed();
}

// ---- TCodeGutter

void TCodeGutter::Changed() {
  if (OnChange)
    OnChange(*this);
}

void TCodeGutter::Assign(const TCodeGutter& Source) {
  if (&Source == this) {
    Changed();
    return;
  }
  const std::int16_t cursor = FCursor;
  TNotifyEvent onChange = std::move(OnChange);
  *this = Source;
  FCursor = cursor;
  OnChange = std::move(onChange);
  Changed();
}

void TCodeGutter::SetBorderStyle(TCodeGutterBorderStyle Value) {
  FBorderStyle = Value;
  Changed();
}

void TCodeGutter::SetDigitCount(int Value) {
  Value = Value < 2 ? 2 : Value > 12 ? 12 : Value;
  if (FDigitCount == Value)
    return;
  FDigitCount = Value;
  FAutoSizeDigits = Value;
  Changed();
}

void TCodeGutter::SetLineNumberStart(int Value) {
  if (FLineNumberStart == Value)
    return;
  FLineNumberStart = Value < 0 ? 0 : Value;
  FZeroStart = FLineNumberStart == 0;
  Changed();
}

void TCodeGutter::SetGradientSteps(int Value) {
  if (FGradientSteps == Value)
    return;
  FGradientSteps = Value < 2 ? 2 : Value;
  Changed();
}

int TCodeGutter::DisplayedLineNumber(int Line) const {
  if (FZeroStart)
    return Line - 1;
  if (FLineNumberStart > 1)
    return Line + FLineNumberStart - 1;
  return Line;
}

void TCodeGutter::AutoSizeDigitCount(int LinesCount) {
  if (FVisible && FAutoSize && FShowLineNumbers) {
    const int digits = static_cast<int>(std::to_string(DisplayedLineNumber(LinesCount)).size());
    const int wanted = digits > FDigitCount ? digits : FDigitCount;
    if (wanted != FAutoSizeDigits) {
      FAutoSizeDigits = wanted;
      Changed();
    }
  } else {
    FAutoSizeDigits = FDigitCount;
  }
}

std::string TCodeGutter::FormatLineNumber(int Line) const {
  std::string result = std::to_string(DisplayedLineNumber(Line));
  if (static_cast<int>(result.size()) < FAutoSizeDigits)
    result.insert(0, static_cast<std::size_t>(FAutoSizeDigits) - result.size(), ' ');
  if (FLeadingZeros)
    // The last place always keeps its digit.
    for (int i = 0; i < FAutoSizeDigits - 1 && result[static_cast<std::size_t>(i)] == ' '; ++i)
      result[static_cast<std::size_t>(i)] = '0';
  return result;
}

int TCodeGutter::RealGutterWidth(int CharWidth) const {
  if (!FVisible)
    return 0;
  if (FShowLineNumbers)
    return FLeftOffset + FRightOffset + CharWidth * FAutoSizeDigits + 2;
  return FWidth;
}

// ---- TCodeBookMarkOpt

void TCodeBookMarkOpt::Changed() {
  if (OnChange)
    OnChange(*this);
}

void TCodeBookMarkOpt::Assign(const TCodeBookMarkOpt& Source) {
  // The owner hears of a list it did not know, as through the setter, so
  // that it forgets the list when the list goes.
  if (FBookmarkImages != Source.FBookmarkImages) {
    FBookmarkImages = Source.FBookmarkImages;
    if (OnImagesAssigned)
      OnImagesAssigned(*this, FBookmarkImages);
  }
  FDrawBookmarksFirst = Source.FDrawBookmarksFirst;
  FEnableKeys = Source.FEnableKeys;
  FGlyphsVisible = Source.FGlyphsVisible;
  FLeftMargin = Source.FLeftMargin;
  FXoffset = Source.FXoffset;
  Changed();
}

void TCodeBookMarkOpt::SetBookmarkImages(TPngIconList* Value) {
  if (!StoreChanged(FBookmarkImages, Value))
    return;
  if (OnImagesAssigned)
    OnImagesAssigned(*this, Value);
  Changed();
}

// ---- TCodeEditSearchCustom

TCodeEditSearchCustom::~TCodeEditSearchCustom() {
  // A client's handler may remove entries: take the list first.
  const auto Clients = std::move(FFreeClients);
  FFreeClients.clear();
  for (const auto& [Client, Forget] : Clients)
    if (Forget)
      Forget();
}

void TCodeEditSearchCustom::FreeNotification(void* Client, std::function<void()> Forget) {
  RemoveFreeNotification(Client);
  FFreeClients.emplace_back(Client, std::move(Forget));
}

void TCodeEditSearchCustom::RemoveFreeNotification(void* Client) {
  std::erase_if(FFreeClients, [Client](const auto& Entry) { return Entry.first == Client; });
}

}  // namespace codeedit
