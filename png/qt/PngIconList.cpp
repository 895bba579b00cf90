#include "png/qt/PngIconList.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

#include "png/qt/PngPictureQt.h"

// ---------------------------------------------------------------------------
// TPngIconCollectionItem

TPngIconCollectionItem::TPngIconCollectionItem(TPngIconCollectionItems& collection, bool withoutPng)
    : FCollection(collection) {
  if (!withoutPng) FPngIcon = std::make_unique<TPngPicture>();
}

void TPngIconCollectionItem::SetPngIcon(const TPngPicture& value) {
  if (!FPngIcon) FPngIcon = std::make_unique<TPngPicture>();
  FPngIcon->CopyFromPng(value);
  Changed();
}

void TPngIconCollectionItem::SetBackground(std::uint32_t value) {
  if (value == FBackground) return;
  FBackground = value;
  Changed();
}

QString TPngIconCollectionItem::GetDisplayName() const {
  return FName.isEmpty() ? QStringLiteral("PngIcon%1").arg(Index()) : FName;
}

int TPngIconCollectionItem::Index() const { return FCollection.IndexOf(this); }

void TPngIconCollectionItem::Assign(const TPngIconCollectionItem& source) {
  if (&source == this) return;
  if (source.FPngIcon) {
    if (!FPngIcon) FPngIcon = std::make_unique<TPngPicture>();
    FPngIcon->CopyFromPng(*source.FPngIcon);
  } else {
    FPngIcon.reset();
  }
  SetBackground(source.FBackground);
  FName = source.FName;
  Changed();
}

void TPngIconCollectionItem::Changed() { FCollection.Update(); }

// ---------------------------------------------------------------------------
// TPngIconCollectionItems

TPngIconCollectionItem* TPngIconCollectionItems::ItemAt(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FItems[std::size_t(index)].get();
}

TPngIconCollectionItem& TPngIconCollectionItems::NewItem(bool withoutPng) {
  FItems.push_back(std::make_unique<TPngIconCollectionItem>(*this, withoutPng));
  TPngIconCollectionItem& item = *FItems.back();
  item.SetName(QStringLiteral("PngIcon%1").arg(Count() - 1));
  Update();
  return item;
}

TPngIconCollectionItem& TPngIconCollectionItems::NewItemAt(int index, bool withoutPng) {
  BeginUpdate();
  TPngIconCollectionItem& item = NewItem(withoutPng);
  MoveItem(Count() - 1, std::clamp(index, 0, Count() - 1));
  EndUpdate();
  return item;
}

void TPngIconCollectionItems::MoveItem(int from, int to) {
  if (!ItemAt(from) || !ItemAt(to) || from == to) return;
  auto item = std::move(FItems[std::size_t(from)]);
  FItems.erase(FItems.begin() + from);
  FItems.insert(FItems.begin() + to, std::move(item));
  Update();
}

void TPngIconCollectionItems::Delete(int index) {
  if (!ItemAt(index)) return;
  FItems.erase(FItems.begin() + index);
  Update();
}

void TPngIconCollectionItems::Clear() {
  if (FItems.empty()) return;
  FItems.clear();
  Update();
}

void TPngIconCollectionItems::Assign(const TPngIconCollectionItems& source) {
  if (&source == this) return;
  BeginUpdate();
  FItems.clear();
  for (const auto& from : source.FItems) NewItem(from->PngIcon() == nullptr).Assign(*from);
  EndUpdate();
}

void TPngIconCollectionItems::Update() {
  if (FUpdateCount == 0 && FOwnerList) FOwnerList->RebuildImages();
}

void TPngIconCollectionItems::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) Update();
}

int TPngIconCollectionItems::IndexOf(const TPngIconCollectionItem* item) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == item) return int(i);
  return -1;
}

// ---------------------------------------------------------------------------
// TPngIconList

namespace {

QPixmap pixmapOf(const TPngPicture& png) { return QPixmap::fromImage(ToArgbImage(png)); }

// The disabled form: a copy blended and/or greyed.
QPixmap disabledPixmapOf(const TPngPicture& png, TPngOptions options) {
  if (!options) return pixmapOf(png);
  TPngPicture copy;
  copy.CopyFromPng(png);
  if (options.testFlag(pngBlendOnDisabled)) BlendPngIcon(copy, 127);
  if (options.testFlag(pngGrayscaleOnDisabled)) GreyPngIcon(copy, 255);
  return pixmapOf(copy);
}

}  // namespace

TPngIconList::TPngIconList(QObject* parent) : QObject(parent) {}

TPngIconList::TPngIconList(int width, int height, QObject* parent)
    : QObject(parent), FWidth(width), FHeight(height) {}

TPngIconList::~TPngIconList() = default;

void TPngIconList::SetEnabledImages(bool value) {
  if (value == FEnabledImages) return;
  FEnabledImages = value;
  RebuildImages();
}

void TPngIconList::SetPngOptions(TPngOptions value) {
  if (value == FPngOptions) return;
  FPngOptions = value;
  RebuildImages();
}

void TPngIconList::SetPngIcons(const TPngIconCollectionItems& value) {
  if (&value == &FPngIcons) return;
  FPngIcons.Assign(value);
  emit Change();
}

void TPngIconList::SetWidth(int value) {
  if (value == FWidth) return;
  FWidth = value;
  Clear();
}

void TPngIconList::SetHeight(int value) {
  if (value == FHeight) return;
  FHeight = value;
  Clear();
}

void TPngIconList::EndUpdate(bool rebuild) {
  if (FUpdateDepth > 0) --FUpdateDepth;
  if (rebuild && FUpdateDepth == 0) RebuildImages();
}

QIcon TPngIconList::MakeIcon(const TPngIconCollectionItem& item) const {
  if (!item.PngIcon() || !item.PngIcon()->HasHeader()) return {};
  try {
    const TPngPicture& png = *item.PngIcon();
    const QPixmap disabled = disabledPixmapOf(png, FPngOptions);
    const QPixmap normal = FEnabledImages ? pixmapOf(png) : disabled;
    QIcon icon;
    icon.addPixmap(normal, QIcon::Normal);
    icon.addPixmap(FEnabledImages ? disabled : normal, QIcon::Disabled);
    return icon;
  } catch (const std::exception&) {
    return {};  // an image the codec cannot convert shows nothing
  }
}

void TPngIconList::RebuildImages() {
  if (FUpdateDepth > 0) return;
  FIcons.clear();
  for (int i = 0; i < FPngIcons.Count(); ++i) FIcons.push_back(MakeIcon(*FPngIcons.ItemAt(i)));
  emit Change();
}

QIcon TPngIconList::icon(int index) const {
  if (index < 0 || index >= Count()) return {};
  return FIcons[std::size_t(index)];
}

QImage TPngIconList::Image(int index) const {
  const TPngIconCollectionItem* item = FPngIcons.ItemAt(index);
  return item && item->PngIcon() ? ToArgbImage(*item->PngIcon()) : QImage();
}

void TPngIconList::DrawImage(QPainter& painter, int x, int y, int index, bool enabled) const {
  const TPngIconCollectionItem* item = FPngIcons.ItemAt(index);
  if (!item || !item->PngIcon()) return;
  DrawPngIcon(*item->PngIcon(), painter, QRect(x, y, FWidth, FHeight), enabled ? TPngOptions() : FPngOptions);
}

void TPngIconList::DrawImage(QImage& canvas, int x, int y, int index, bool enabled) const {
  const TPngIconCollectionItem* item = FPngIcons.ItemAt(index);
  if (!item || !item->PngIcon()) return;
  DrawPngIcon(*item->PngIcon(), canvas, QRect(x, y, FWidth, FHeight), enabled ? TPngOptions() : FPngOptions);
}

void TPngIconList::AssignTo(TPngIconList& destination) const {
  if (&destination == this) return;
  destination.FWidth = FWidth;
  destination.FHeight = FHeight;
  destination.SetPngIcons(FPngIcons);
  destination.SetEnabledImages(FEnabledImages);
}

int TPngIconList::AddPng(const QByteArray& bytes, const QString& name) {
  auto png = std::make_unique<TPngPicture>();
  try {
    png->LoadFromBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
  } catch (const std::exception&) {
    return -1;
  }
  const int index = AddItem(std::move(png));
  if (!name.isEmpty()) FPngIcons.ItemAt(index)->SetName(name);
  return index;
}

int TPngIconList::AddPngFile(const QString& path, const QString& name) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return -1;
  return AddPng(file.readAll(), name);
}

bool TPngIconList::AddFiles(const QStringList& paths) {
  for (const QString& path : paths)
    if (AddPngFile(path) < 0) return false;
  return true;
}

// An add operation: a new last item, its icon, and a complete rebuild once
// the outermost update ends.
int TPngIconList::AddItem(std::unique_ptr<TPngPicture> png) {
  BeginUpdate();
  TPngIconCollectionItem& item = FPngIcons.NewItem(true);
  item.TakePngIcon(std::move(png));
  FIcons.push_back(MakeIcon(item));
  emit Change();
  const int index = item.Index();
  EndUpdate(true);
  return index;
}

void TPngIconList::InsertItem(int index, std::unique_ptr<TPngPicture> png) {
  BeginUpdate();
  TPngIconCollectionItem& item = FPngIcons.NewItemAt(index, true);
  item.TakePngIcon(std::move(png));
  FIcons.insert(FIcons.begin() + item.Index(), MakeIcon(item));
  emit Change();
  EndUpdate(false);
}

void TPngIconList::ReplaceItem(int index, std::unique_ptr<TPngPicture> png) {
  TPngIconCollectionItem* item = FPngIcons.ItemAt(index);
  if (!item) return;
  BeginUpdate();
  item->TakePngIcon(std::move(png));
  FIcons[std::size_t(index)] = MakeIcon(*item);
  emit Change();
  EndUpdate(false);
}

int TPngIconList::Add(const QImage* image, const QImage* mask) {
  if (!image) return -1;
  return AddItem(PngFromBitmapAndMask(*image, mask, false));
}

int TPngIconList::AddIcon(const QIcon* icon) {
  if (!icon) return -1;
  return AddItem(PngFromGraphic(*icon, QSize(FWidth, FHeight)));
}

int TPngIconList::AddImage(const TPngIconList& source, int index) {
  auto png = std::make_unique<TPngPicture>();
  PngFromImageListEntry(*png, source, index);
  return AddItem(std::move(png));
}

void TPngIconList::AddImages(const TPngIconList& source) {
  BeginUpdate();
  for (int i = 0; i < source.PngIcons().Count(); ++i) AddImage(source, i);
  emit Change();
  EndUpdate(true);
}

int TPngIconList::AddMasked(const QImage* image, std::uint32_t maskColor) {
  if (!image) return -1;
  return AddItem(PngFromMaskColor(*image, maskColor));
}

void TPngIconList::Clear() {
  BeginUpdate();
  FPngIcons.Clear();
  FIcons.clear();
  emit Change();
  EndUpdate(false);
}

void TPngIconList::Delete(int index) {
  if (!FPngIcons.ItemAt(index)) return;
  BeginUpdate();
  FPngIcons.Delete(index);
  if (index < Count()) FIcons.erase(FIcons.begin() + index);
  emit Change();
  EndUpdate(false);
}

void TPngIconList::Insert(int index, const QImage* image, const QImage* mask) {
  if (!image) return;
  InsertItem(index, PngFromBitmapAndMask(*image, mask, false));
}

void TPngIconList::InsertIcon(int index, const QIcon* icon) {
  if (!icon) return;
  InsertItem(index, PngFromGraphic(*icon, QSize(FWidth, FHeight)));
}

void TPngIconList::InsertMasked(int index, const QImage* image, std::uint32_t maskColor) {
  if (!image) return;
  InsertItem(index, PngFromMaskColor(*image, maskColor));
}

void TPngIconList::Move(int currentIndex, int newIndex) {
  if (!FPngIcons.ItemAt(currentIndex) || !FPngIcons.ItemAt(newIndex) || currentIndex == newIndex) return;
  BeginUpdate();
  QIcon moved = FIcons[std::size_t(currentIndex)];
  FIcons.erase(FIcons.begin() + currentIndex);
  FIcons.insert(FIcons.begin() + newIndex, moved);
  FPngIcons.MoveItem(currentIndex, newIndex);
  emit Change();
  EndUpdate(false);
}

void TPngIconList::Replace(int index, const QImage* image, const QImage* mask) {
  if (!image) return;
  ReplaceItem(index, PngFromBitmapAndMask(*image, mask, false));
}

void TPngIconList::ReplaceIcon(int index, const QIcon* icon) {
  if (!icon) return;
  ReplaceItem(index, PngFromGraphic(*icon, QSize(FWidth, FHeight)));
}

void TPngIconList::ReplaceMasked(int index, const QImage* image, std::uint32_t maskColor) {
  if (!image) return;
  ReplaceItem(index, PngFromMaskColor(*image, maskColor));
}
