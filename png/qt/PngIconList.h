#pragma once

// An image list whose images are PNG images with alpha. Each item keeps its
// PNG; the list keeps one QIcon per item, in item order, for menus, actions
// and tool bars: its Normal pixmap is the PNG with its alpha, its Disabled
// pixmap the PNG blended and/or greyed as PngOptions say, so Qt never makes a
// grey version of its own. With EnabledImages false both show the disabled
// form. DrawImage draws a PNG directly.

#include <QIcon>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

#include "png/pngpicture.h"
#include "png/qt/PngRoutines.h"

class QPainter;
class TPngIconCollectionItems;
class TPngIconList;

// The framework's button face as a system colour value.
inline constexpr std::uint32_t clBtnFace = 0xFF00000F;
// No colour (the background of disabled icons).
inline constexpr std::uint32_t clNone = 0x1FFFFFFF;

class TPngIconCollectionItem {
public:
  explicit TPngIconCollectionItem(TPngIconCollectionItems& collection, bool withoutPng);
  TPngIconCollectionItem(const TPngIconCollectionItem&) = delete;
  TPngIconCollectionItem& operator=(const TPngIconCollectionItem&) = delete;

  // Null only while the list's own operations fill a new item.
  TPngPicture* PngIcon() const { return FPngIcon.get(); }
  // Copies the image, then tells the collection.
  void SetPngIcon(const TPngPicture& value);
  // Takes the image over without telling the collection.
  void TakePngIcon(std::unique_ptr<TPngPicture> value) { FPngIcon = std::move(value); }
  const QString& Name() const { return FName; }
  void SetName(const QString& value) { FName = value; }
  std::uint32_t Background() const { return FBackground; }
  void SetBackground(std::uint32_t value);
  // The name, or "PngIcon<index>" when it is empty.
  QString GetDisplayName() const;
  int Index() const;
  // The image (copied), background and name of another item.
  void Assign(const TPngIconCollectionItem& source);

private:
  void Changed();
  TPngIconCollectionItems& FCollection;
  std::unique_ptr<TPngPicture> FPngIcon;
  QString FName;
  std::uint32_t FBackground = clBtnFace;
};

class TPngIconCollectionItems {
public:
  explicit TPngIconCollectionItems(TPngIconList* owner) : FOwnerList(owner) {}
  TPngIconCollectionItems(const TPngIconCollectionItems&) = delete;
  TPngIconCollectionItems& operator=(const TPngIconCollectionItems&) = delete;

  int Count() const { return int(FItems.size()); }
  // Null when index < 0 or ≥ Count.
  TPngIconCollectionItem* ItemAt(int index) const;
  // A new last item named "PngIcon<index>" with the background clBtnFace and
  // an empty image (none with `withoutPng`).
  TPngIconCollectionItem& NewItem(bool withoutPng = false);
  TPngIconCollectionItem& NewItemAt(int index, bool withoutPng = false);
  // Moves an item to another index (both must be valid).
  void MoveItem(int from, int to);
  void Delete(int index);
  void Clear();
  // Copies of the other collection's items, then Update.
  void Assign(const TPngIconCollectionItems& source);
  // Rebuilds the owner list's icons.
  void Update();
  int IndexOf(const TPngIconCollectionItem* item) const;
  TPngIconList* GetOwner() const { return FOwnerList; }

  // While above 0, changes do not reach the owner.
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();

private:
  TPngIconList* FOwnerList;
  std::vector<std::unique_ptr<TPngIconCollectionItem>> FItems;
  int FUpdateCount = 0;
};

class TPngIconList : public QObject {
  Q_OBJECT
public:
  explicit TPngIconList(QObject* parent = nullptr);
  // A list of images of that size.
  TPngIconList(int width, int height, QObject* parent = nullptr);
  ~TPngIconList() override;

  bool EnabledImages() const { return FEnabledImages; }
  void SetEnabledImages(bool value);
  TPngOptions PngOptions() const { return FPngOptions; }
  void SetPngOptions(TPngOptions value);
  const TPngIconCollectionItems& PngIcons() const { return FPngIcons; }
  TPngIconCollectionItems& PngIcons() { return FPngIcons; }
  void SetPngIcons(const TPngIconCollectionItems& value);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // A new size removes every item.
  void SetWidth(int value);
  void SetHeight(int value);

  void BeginUpdate() { ++FUpdateDepth; }
  // With `rebuild`, the icons are remade once the last update ends.
  void EndUpdate(bool rebuild = true);
  // Remakes every icon from the items.
  virtual void RebuildImages();

  // The icons, one per item in item order (an item without an image has a
  // null icon). An index out of range gives a null icon.
  int Count() const { return int(FIcons.size()); }
  QIcon icon(int index) const;
  // An item's image as drawn (ARGB32); a null image when the index has none.
  QImage Image(int index) const;

  // Draws item `index` into (x, y, Width, Height), unchanged when enabled,
  // else in the PngOptions look. Nothing when the index has no item.
  void DrawImage(QPainter& painter, int x, int y, int index, bool enabled = true) const;
  void DrawImage(QImage& canvas, int x, int y, int index, bool enabled = true) const;

  // Gives `destination` this list's size, items and EnabledImages (not its
  // PngOptions).
  void AssignTo(TPngIconList& destination) const;

  // Adds an item from PNG file bytes (a resource's or a file's); -1 when they
  // are not a PNG image.
  int AddPng(const QByteArray& bytes, const QString& name = {});
  // Adds an item from a PNG file or resource path (":/..."); -1 when it
  // cannot be read.
  int AddPngFile(const QString& path, const QString& name = {});
  // Adds the PNG files (paths or resources) in order; false when one cannot
  // be read, the ones before it staying.
  bool AddFiles(const QStringList& paths);

  // The list operations. A null picture is ignored (the adding ones give -1);
  // Delete ignores an index out of range; Move, Replace, ReplaceIcon and
  // ReplaceMasked ignore one as well.
  virtual int Add(const QImage* image, const QImage* mask);
  virtual int AddIcon(const QIcon* icon);
  virtual int AddImage(const TPngIconList& source, int index);
  virtual void AddImages(const TPngIconList& source);
  virtual int AddMasked(const QImage* image, std::uint32_t maskColor);
  virtual void Clear();
  virtual void Delete(int index);
  virtual void Insert(int index, const QImage* image, const QImage* mask);
  virtual void InsertIcon(int index, const QIcon* icon);
  virtual void InsertMasked(int index, const QImage* image, std::uint32_t maskColor);
  virtual void Move(int currentIndex, int newIndex);
  virtual void Replace(int index, const QImage* image, const QImage* mask);
  virtual void ReplaceIcon(int index, const QIcon* icon);
  virtual void ReplaceMasked(int index, const QImage* image, std::uint32_t maskColor);

signals:
  // The items or their icons changed.
  void Change();

private:
  // The icon of an item as the list shows it (EnabledImages decides).
  QIcon MakeIcon(const TPngIconCollectionItem& item) const;
  int AddItem(std::unique_ptr<TPngPicture> png);
  void InsertItem(int index, std::unique_ptr<TPngPicture> png);
  void ReplaceItem(int index, std::unique_ptr<TPngPicture> png);

  TPngIconCollectionItems FPngIcons{this};
  bool FEnabledImages = true;
  TPngOptions FPngOptions = pngBlendOnDisabled;
  int FUpdateDepth = 0;
  int FWidth = 16;
  int FHeight = 16;
  std::vector<QIcon> FIcons;
};
