#pragma once

// Marks: small records tied to a line and drawn in the gutter. Ten of them can
// be the numbered bookmarks 0..9. The editor's line notifications move them
// when lines are inserted or deleted above them.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace codeedit {

class TCodeEditCore;

class TCodeEditMark {
public:
  explicit TCodeEditMark(TCodeEditCore* AOwner);
  virtual ~TCodeEditMark() = default;

  // The owning editor, or nullptr once the editor no longer lists this mark
  // (the mark forgets the editor then).
  virtual TCodeEditCore* GetEdit();
  virtual void SetChar(std::int32_t Value) { FChar = Value; }
  virtual void SetImageNumber(std::int32_t Value);
  virtual void SetLine(std::int32_t Value);
  void SetShown(bool Value);
  void SetInternalImage(bool Value);
  bool IsBookmark() const { return FBookmarkNumber >= 0; }

  std::int32_t Line() const { return FLine; }
  std::int32_t Char() const { return FChar; }
  std::int32_t ImageNumber() const { return FImageNumber; }
  bool Shown() const { return FShown; }
  bool InternalImage() const { return FInternalImage; }
  std::int32_t BookmarkNumber() const { return FBookmarkNumber; }
  void SetBookmarkNumber(std::int32_t Value) { FBookmarkNumber = Value; }

private:
  void InvalidateGutterLine(std::int32_t Line);

  std::int32_t FLine = 0;
  std::int32_t FChar = 0;
  std::int32_t FImageNumber = 0;
  TCodeEditCore* FOwnerEdit;
  bool FShown = false;
  bool FInternalImage = false;
  std::int32_t FBookmarkNumber = -1;
};

// The marks of one line, in list order; unused entries are nullptr.
using TCodeEditMarks = std::array<TCodeEditMark*, 16>;

// Owns its marks: removing one frees it.
class TCodeEditMarkList {
public:
  explicit TCodeEditMarkList(TCodeEditCore* AOwner) : FOwnerEdit(AOwner) {}

  int Count() const { return static_cast<int>(FItems.size()); }
  TCodeEditMark* GetItem(int Index) const;
  int IndexOf(const TCodeEditMark* Mark) const;
  void Add(std::unique_ptr<TCodeEditMark> Mark);
  // Frees the mark; false when it is not in the list.
  bool Remove(TCodeEditMark* Mark);
  // Takes the mark out without freeing it; nullptr when it is not listed.
  std::unique_ptr<TCodeEditMark> Extract(TCodeEditMark* Mark);
  void Clear();
  // At most 16, the first ones in list order.
  void GetLineMarks(std::int32_t Line, TCodeEditMarks& Marks) const;

  std::function<void(TCodeEditMarkList& Sender)> OnChange;

private:
  void Notify();

  TCodeEditCore* FOwnerEdit;
  std::vector<std::unique_ptr<TCodeEditMark>> FItems;
};

}  // namespace codeedit
