#pragma once

// The task dialog's option objects: a persistent object with a change event,
// the gradient settings and the description of a caption's background.
//
// Colours are the class library's colour numbers, blue-green-red from the
// low byte up ($FF0000 is blue); TdColor turns one into a QColor.

#include <QColor>
#include <QRect>

#include <cstdint>
#include <functional>
#include <memory>

// "No colour": use what lies behind.
inline constexpr std::uint32_t clNone = 0x1FFFFFFF;

// The QColor of a BGR colour number; clNone gives an invalid QColor.
QColor TdColor(std::uint32_t Bgr);

// Base of the dialog's option objects: Changed fires OnChange unless the
// update flag is set.
class TTdChangePersistent {
 public:
  TTdChangePersistent() = default;
  virtual ~TTdChangePersistent() = default;

  std::function<void(TTdChangePersistent*)> OnChange;
  bool Updating = false;

  virtual void Changed();
};

enum class TGradientDirection { gdHorizontal, gdVertical };

class TTdGradient : public TTdChangePersistent {
 public:
  bool enabled() const { return FEnabled; }
  void setEnabled(bool Enabled);
  TGradientDirection direction() const { return FDirection; }
  void setDirection(TGradientDirection Direction);
  std::uint32_t startColor() const { return FStartColor; }
  void setStartColor(std::uint32_t Color);
  std::uint32_t endColor() const { return FEndColor; }
  void setEndColor(std::uint32_t Color);

  // Copies the four settings; each one that differs fires Changed.
  void assign(const TTdGradient& Source);

 private:
  bool FEnabled = false;
  TGradientDirection FDirection = TGradientDirection::gdHorizontal;
  std::uint32_t FStartColor = clNone;
  std::uint32_t FEndColor = clNone;
};

// What a caption is drawn on: a colour (clNone keeps what lies behind), or
// an enabled gradient. Qt paints widgets double-buffered, so "through a
// bitmap" only records the caller's wish; nothing is drawn differently.
class TTdBackground {
 public:
  explicit TTdBackground(std::uint32_t Color = clNone, bool ThroughBitmap = false,
                         QRect SourceRect = {}, const TTdGradient* Gradient = nullptr);

  std::uint32_t Color;
  bool ThroughBitmap;
  QRect SourceRect;
  TTdGradient Gradient;

  std::unique_ptr<TTdBackground> clone() const;
};
