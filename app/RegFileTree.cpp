#include "app/RegFileTree.h"

#include <QFile>
#include <QHashFunctions>

#include "app/QtText.h"
#include "core/RegText.h"
#include "core/bwlRegTools.h"

namespace {

// The key node's images, as the main window gives a key of the default view.
constexpr int kKeyImage = 1;
constexpr int kKeySelectedImage = 2;

// Trailing line breaks dropped: the file's display text ends every string of a
// multi-string with one, the registry's text has none after the last.
QString withoutTrailingBreaks(QString text) {
  while (!text.isEmpty() && (text.back() == u'\r' || text.back() == u'\n')) text.chop(1);
  return text;
}

bool readFile(const std::filesystem::path& file, std::string& bytes) {
  QFile in(QString::fromStdString(file.string()));
  if (!in.open(QIODevice::ReadOnly)) return false;
  bytes.resize(static_cast<std::size_t>(in.size()));
  const qint64 got = in.read(bytes.data(), static_cast<qint64>(bytes.size()));
  if (got < 0) return false;
  bytes.resize(static_cast<std::size_t>(got));
  return true;
}

}  // namespace

std::size_t RegFileTreeBuilder::ChildKeyHash::operator()(const ChildKey& k) const noexcept {
  return qHash(k.folded) ^ std::hash<const void*>()(k.parent);
}

RegFileTreeBuilder::RegFileTreeBuilder(KeyNode& top, bool compare) : top_(top), compare_(compare) {
  if (compare_) {
    registry_ = std::make_unique<TMyRegistry64>();
    registry_->SetBitness(Bitness::x64);
  }
}

RegFileTreeBuilder::~RegFileTreeBuilder() = default;

void RegFileTreeBuilder::parseLines(std::span<const std::string> lines, RegFileVersion version) {
  version_ = version;
  current_ = nullptr;
  RegFileParser parser(*this, version, true);
  parser.parseLines(lines);
  if (registry_) registry_->CloseKey();
  keyOpen_ = false;
}

KeyNode* RegFileTreeBuilder::childNamed(KeyNode* parent, const QString& name) {
  ChildKey key{parent, name.toCaseFolded()};
  const auto it = children_.find(key);
  if (it != children_.end()) return it->second;
  auto data = std::make_unique<TKeyNodeData>();
  data->Name = name;
  auto node = std::make_unique<KeyNode>();
  node->text = ShownKeyName(name);
  node->data = std::move(data);
  node->imageIndex = kKeyImage;
  node->selectedIndex = kKeySelectedImage;
  node->parent = parent;
  KeyNode* added = node.get();
  parent->children.push_back(std::move(node));
  parent->hasChildren = true;
  children_.emplace(std::move(key), added);
  return added;
}

bool RegFileTreeBuilder::regKey(std::string_view rootName, std::string_view keyPath, bool deleted) {
  // The section's text split at every backslash: the first element names the
  // root ("-" in front for a deletion), the others the keys below it.
  KeyNode* node = &top_;
  const std::string first = (deleted ? "-" : "") + std::string(rootName);
  if (!first.empty()) node = childNamed(node, ansiToQString(first));
  std::size_t at = 0;
  while (at < keyPath.size()) {
    std::size_t slash = keyPath.find('\\', at);
    if (slash == std::string_view::npos) slash = keyPath.size();
    if (slash > at) node = childNamed(node, ansiToQString(keyPath.substr(at, slash - at)));
    at = slash + 1;
  }
  current_ = node == &top_ ? nullptr : node;
  if (compare_) {
    registry_->CloseKey();
    keyOpen_ = false;
    const platform::HKEY root = NameToRootKey(first);
    if (root) {
      registry_->SetRootKey(root);
      try {
        keyOpen_ = registry_->OpenKeyReadOnly(std::string(keyPath));
      } catch (...) {
        keyOpen_ = false;
      }
    }
  }
  return true;
}

QString RegFileTreeBuilder::compareValue(const RegFileValueLine& value, TRegDataType kind, const std::string& display,
                                         QString& registryData) {
  QString mark = QStringLiteral("U");
  try {
    if (!keyOpen_ || !registry_->ValueExists(value.name)) return QStringLiteral("N");
    if (registry_->GetDataType(value.name) != kind) return QStringLiteral("T");
    switch (kind) {
      case rdString: {
        const std::string text = registry_->ReadString(value.name);
        registryData = ansiToQString(text);
        if (UnescapeRegString(display) != text) mark = QStringLiteral("C");
        break;
      }
      case rdExpandString: {
        const std::string text = registry_->ReadString(value.name);
        registryData = ansiToQString(text);
        if (display != text) mark = QStringLiteral("C");
        break;
      }
      case rdInteger: {
        const std::string text =
            DWordToDisplayText(static_cast<std::uint32_t>(registry_->ReadInteger(value.name)));
        registryData = ansiToQString(text);
        if (display != text) mark = QStringLiteral("C");
        break;
      }
      case rdMultiString: {
        registryData = ansiToQString(registry_->ReadMultiString(value.name));
        // The file's text ends in a line break per string, the registry's
        // not after the last: equal lists compare equal without them.
        if (withoutTrailingBreaks(ansiToQString(display)) != withoutTrailingBreaks(registryData)) {
          mark = QStringLiteral("C");
        }
        break;
      }
      default:
        break;
    }
  } catch (...) {
    // A failing read keeps the mark reached so far.
  }
  return mark;
}

void RegFileTreeBuilder::regValue(const RegFileValueLine& value) {
  if (!current_ || value.data.empty()) return;
  std::string display;
  const TRegDataType kind = ParseRegFileData(value.data, display, version_);
  QString registryData;
  const QString mark = compare_ ? compareValue(value, kind, display, registryData) : QStringLiteral("U");
  QStringList fields;
  fields.reserve(RegFileRecord::fieldCount);
  fields << (value.name.empty() ? QStringLiteral("@") : ansiToQString(value.name))
         << QString::fromStdString(RegDataTypeToStr(kind)) << ansiToQString(display)
         << QString::number(ValueTextDataSize(display, kind)) << QString::number(ValueImageIndex(kind)) << mark;
  if (compare_) fields << registryData;
  auto* data = static_cast<TRegFileNodeData*>(current_->data.get());
  if (!dynamic_cast<TRegFileNodeData*>(current_->data.get())) {
    // The node's first value: its data grows a record list.
    auto grown = std::make_unique<TRegFileNodeData>();
    grown->Name = current_->data ? current_->data->Name : current_->text;
    data = grown.get();
    current_->data = std::move(grown);
  }
  data->Values << JoinCommaText(fields);
}

std::unique_ptr<KeyNode> BuildRegFileTreeFromBytes(std::string_view bytes, const QString& name, bool compare,
                                                   bool* ok) {
  auto top = std::make_unique<KeyNode>();
  top->text = name;
  top->imageIndex = kRegFileTopImage;
  top->selectedIndex = kRegFileTopImage;
  std::vector<std::string> lines;
  RegFileVersion version = RegFileVersion::unknown;
  const bool read = ReadRegFileLines(bytes, lines, version);
  if (ok) *ok = read;
  if (!read) return top;
  RegFileTreeBuilder builder(*top, compare);
  builder.parseLines(lines, version);
  return top;
}

std::unique_ptr<KeyNode> BuildRegFileTree(const std::filesystem::path& file, bool compare, bool* ok) {
  std::string bytes;
  const QString name = QString::fromStdString(file.filename().string());
  if (!readFile(file, bytes)) {
    if (ok) *ok = false;
    auto top = std::make_unique<KeyNode>();
    top->text = name;
    top->imageIndex = kRegFileTopImage;
    top->selectedIndex = kRegFileTopImage;
    return top;
  }
  return BuildRegFileTreeFromBytes(bytes, name, compare, ok);
}

std::vector<TRegistryValueListItem> RegFileValueRows(const KeyNode& node, platform::HKEY root,
                                                     const QString& keyPath, const QString& defaultCaption,
                                                     const QString& notDefinedText, bool& registryValueWanted) {
  std::vector<TRegistryValueListItem> rows;
  registryValueWanted = false;
  bool placeholder = true;
  if (const auto* data = dynamic_cast<const TRegFileNodeData*>(node.data.get())) {
    placeholder = !data->Values.isEmpty();
    rows.reserve(static_cast<std::size_t>(data->Values.size()) + 1);
    for (const QString& record : data->Values) {
      const QStringList f = SplitCommaText(record);
      if (f.size() <= 4) continue;
      TRegistryValueListItem row;
      row.Caption = f[RegFileRecord::fName];
      row.SubItems = {f[RegFileRecord::fType], f[RegFileRecord::fData], f[RegFileRecord::fSize], QString()};
      bool number = false;
      row.ImageIndex = f[RegFileRecord::fImage].toInt(&number);
      if (!number) row.ImageIndex = -1;
      if (f.size() > RegFileRecord::fMark && !f[RegFileRecord::fMark].isEmpty()) {
        const QChar mark = f[RegFileRecord::fMark].front();
        if (mark == u'N') row.MarkColor = kMarkColorMissing;
        if (mark == u'T' || mark == u'C') row.MarkColor = kMarkColorDifferent;
        row.DiffMark = mark;
      }
      if (f.size() > RegFileRecord::fRegistryData) {
        row.SubItems[3] = f[RegFileRecord::fRegistryData];
        registryValueWanted = true;
      }
      row.RootKey = root;
      row.KeyPath = keyPath;
      row.ValueName = f[RegFileRecord::fName];
      row.ValueText = f[RegFileRecord::fData];
      row.DataInfo.RegData = RegTypeNameToRegDataType(qStringToAnsi(f[RegFileRecord::fType]));
      row.DataInfo.DataSize =
          static_cast<std::uint32_t>(ValueTextDataSize(qStringToAnsi(row.ValueText), row.DataInfo.RegData));
      rows.push_back(std::move(row));
    }
  }
  if (node.level() > 0 && placeholder) {
    TRegistryValueListItem row;
    row.Caption = defaultCaption;
    row.SubItems = {QStringLiteral("REG_SZ"), notDefinedText, QStringLiteral("0"), QString()};
    row.DataInfo.RegData = rdString;
    row.DataInfo.DataSize = 0;
    row.ImageIndex = 3;
    row.StateIndex = 1;
    rows.push_back(std::move(row));
  }
  return rows;
}
