#pragma once

// The .reg file view without a window: the key nodes of a file's sections
// with the value records the file gives each key, optionally compared with
// the local registry, and the value-list rows of one node's records. The main
// window takes a built top node into its tree in one step.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/KeyTreeModel.h"
#include "app/ValueListModel.h"
#include "core/RegFileParser.h"
#include "core/bwlRegistry.h"

// A key node of a .reg file view: its raw name and, once the file gives the
// key a value, one record per value line in file order (see RegFileRecord).
struct TRegFileNodeData : TKeyNodeData {
  QStringList Values;
};

// The fields of one value record, kept in a node as comma text
// (JoinCommaText, SplitCommaText).
struct RegFileRecord {
  enum Field { fName, fType, fData, fSize, fImage, fMark, fRegistryData, fieldCount };
};

// The row colours of the difference marks (Windows colours, 0x00BBGGRR).
inline constexpr std::uint32_t kMarkColorMissing = 8421631;    // "N"
inline constexpr std::uint32_t kMarkColorDifferent = 15780518;  // "T" and "C"

// The image of a .reg file's top node.
inline constexpr int kRegFileTopImage = 8;

// Reads the sections and value lines of one .reg text into the nodes below a
// top node. Sections reuse the nodes of earlier ones (names compared ignoring
// case, looked up by hash, never by a scan of the siblings); a deletion
// section "[-...]" is a first-level node whose name begins with "-". Value
// lines before the first section are dropped.
//
// With `compare`, every value is compared with the local registry (64-bit
// view), one key open per section: its mark is "U" (equal, or a kind that is
// not compared), "N" (no such value, or the key does not open), "T" (another
// kind) or "C" (other data), and the registry's data is kept beside it. A
// failing read keeps the mark reached so far.
class RegFileTreeBuilder : private RegFileSink {
public:
  RegFileTreeBuilder(KeyNode& top, bool compare);
  ~RegFileTreeBuilder() override;
  RegFileTreeBuilder(const RegFileTreeBuilder&) = delete;
  RegFileTreeBuilder& operator=(const RegFileTreeBuilder&) = delete;

  // The whole text, header first.
  void parseLines(std::span<const std::string> lines, RegFileVersion version);

private:
  bool regKey(std::string_view rootName, std::string_view keyPath, bool deleted) override;
  void regValue(const RegFileValueLine& value) override;
  KeyNode* childNamed(KeyNode* parent, const QString& name);
  QString compareValue(const RegFileValueLine& value, TRegDataType kind, const std::string& display,
                       QString& registryData);

  KeyNode& top_;
  bool compare_;
  RegFileVersion version_ = RegFileVersion::unknown;
  KeyNode* current_ = nullptr;
  // Children by parent and case-folded name.
  struct ChildKey {
    const KeyNode* parent;
    QString folded;
    bool operator==(const ChildKey&) const = default;
  };
  struct ChildKeyHash {
    std::size_t operator()(const ChildKey& k) const noexcept;
  };
  std::unordered_map<ChildKey, KeyNode*, ChildKeyHash> children_;
  std::unique_ptr<TMyRegistry64> registry_;
  bool keyOpen_ = false;
};

// The top node of a .reg file view: the file's name (no folder), image 8, no
// data, and below it the file's keys. A file that is missing or is no .reg
// text of either version gives an empty top node; `ok` says which.
std::unique_ptr<KeyNode> BuildRegFileTree(const std::filesystem::path& file, bool compare, bool* ok = nullptr);
// The same from the bytes of a file.
std::unique_ptr<KeyNode> BuildRegFileTreeFromBytes(std::string_view bytes, const QString& name, bool compare,
                                                   bool* ok = nullptr);

// The value-list rows of a node's records: a row per record of at least five
// fields, coloured and lettered by its mark; `registryValueWanted` is set when
// a record carries the registry's data. A node below the top one ends with
// the placeholder row (caption `defaultCaption`, data `notDefinedText`).
std::vector<TRegistryValueListItem> RegFileValueRows(const KeyNode& node, platform::HKEY root,
                                                     const QString& keyPath, const QString& defaultCaption,
                                                     const QString& notDefinedText, bool& registryValueWanted);
