#include "taskdialog/TdTypes.h"

QColor TdColor(std::uint32_t Bgr) {
  if (Bgr == clNone)
    return {};
  return QColor(Bgr & 0xFF, (Bgr >> 8) & 0xFF, (Bgr >> 16) & 0xFF);
}

void TTdChangePersistent::Changed() {
  if (OnChange && !Updating)
    OnChange(this);
}

void TTdGradient::setEnabled(bool Enabled) {
  if (FEnabled == Enabled)
    return;
  FEnabled = Enabled;
  Changed();
}

void TTdGradient::setDirection(TGradientDirection Direction) {
  if (FDirection == Direction)
    return;
  FDirection = Direction;
  Changed();
}

void TTdGradient::setStartColor(std::uint32_t Color) {
  if (FStartColor == Color)
    return;
  FStartColor = Color;
  Changed();
}

void TTdGradient::setEndColor(std::uint32_t Color) {
  if (FEndColor == Color)
    return;
  FEndColor = Color;
  Changed();
}

void TTdGradient::assign(const TTdGradient& Source) {
  setEnabled(Source.FEnabled);
  setDirection(Source.FDirection);
  setStartColor(Source.FStartColor);
  setEndColor(Source.FEndColor);
}

TTdBackground::TTdBackground(std::uint32_t Color, bool ThroughBitmap, QRect SourceRect,
                             const TTdGradient* Gradient)
    : Color(Color), ThroughBitmap(ThroughBitmap), SourceRect(SourceRect) {
  if (Gradient)
    this->Gradient.assign(*Gradient);
}

std::unique_ptr<TTdBackground> TTdBackground::clone() const {
  return std::make_unique<TTdBackground>(Color, ThroughBitmap, SourceRect, &Gradient);
}
