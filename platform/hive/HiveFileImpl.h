#pragma once

// The one implementation of HiveFile. Reads go straight to the image; writes
// edit cells in place, allocating and freeing through HiveImage, and save()
// writes the whole image to a new file that replaces the old one.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/hive/HiveFile.h"
#include "platform/hive/HiveFormat.h"
#include "platform/hive/HiveImage.h"

namespace platform::hive {

class HiveFileImpl final : public HiveFile {
public:
  // Takes ownership of the bytes of a whole hive file.
  // `replay` tells what log replay already did to the bytes: an incomplete
  // one leaves the hive damaged.
  static HiveResult<std::unique_ptr<HiveFile>> fromBytes(ByteBuffer bytes, OpenMode mode, std::filesystem::path path,
                                                         LogReplayInfo replay = {});
  // The primary file's bytes, and the logs to recover it from when it needs
  // that (missing or unreadable logs count as empty).
  static HiveResult<std::unique_ptr<HiveFile>> fromBytesAndLogs(ByteBuffer bytes, OpenMode mode,
                                                                std::filesystem::path path,
                                                                std::span<const std::span<const std::uint8_t>> logs);
  HiveFileImpl();
  ~HiveFileImpl() override;

  bool readOnly() const override { return readOnly_; }
  bool modified() const override { return modified_; }
  const std::filesystem::path& path() const override { return path_; }
  BaseBlockInfo baseBlock() const override;

  KeyId root() const override { return idOf(root_); }
  HiveResult<KeyInfo> keyInfo(KeyId key) const override;
  HiveResult<std::optional<KeyId>> parent(KeyId key) const override;
  HiveResult<std::vector<KeyId>> subkeys(KeyId key) const override;
  HiveResult<KeyId> findSubkey(KeyId parent, std::u16string_view name) const override;
  HiveResult<std::vector<ValueId>> values(KeyId key) const override;
  HiveResult<ValueId> valueAt(KeyId key, std::size_t index) const override;
  HiveResult<ValueId> findValue(KeyId key, std::u16string_view name) const override;
  HiveResult<ValueInfo> valueInfo(ValueId value) const override;
  HiveResult<std::vector<std::uint8_t>> valueData(ValueId value) const override;
  HiveResult<std::vector<std::uint8_t>> security(KeyId key) const override;

  HiveStatus subkeysInto(KeyId key, std::vector<KeyId>& out) const override;
  HiveStatus valuesInto(KeyId key, std::vector<ValueId>& out) const override;
  HiveStatus keyNameInto(KeyId key, std::u16string& out) const override;
  HiveStatus valueInfoInto(ValueId value, ValueInfo& out) const override;
  HiveStatus valueDataInto(ValueId value, std::vector<std::uint8_t>& out) const override;

  HiveResult<KeyId> createKey(KeyId parent, std::u16string_view name) override;
  HiveStatus deleteKey(KeyId key) override;
  HiveStatus renameKey(KeyId key, std::u16string_view newName) override;
  HiveStatus setClassName(KeyId key, std::u16string_view className) override;
  HiveStatus setSecurity(KeyId key, std::span<const std::uint8_t> descriptor) override;
  HiveStatus setLastWritten(KeyId key, FileTime time) override;
  HiveResult<ValueId> setValue(KeyId key, std::u16string_view name, std::uint32_t type,
                               std::span<const std::uint8_t> data) override;
  HiveStatus deleteValue(KeyId key, std::u16string_view name) override;
  HiveStatus renameValue(KeyId key, std::u16string_view oldName, std::u16string_view newName) override;

  HiveStatus save() override;
  HiveStatus saveAs(const std::filesystem::path& path) override;
  HiveResult<std::vector<std::uint8_t>> serialize() override;

  bool damaged() const override { return damaged_; }
  std::size_t fileSize() const override { return image_.bytes(); }
  LogReplayInfo logReplay() const override { return replay_; }

private:
  friend class HiveFile;  // createEmpty builds the first cells by hand

  // Element of a sub-key list being rebuilt: the child and its hash or hint.
  struct ListEntry {
    std::uint32_t off;
    std::uint32_t hash;
  };

  // ---- ids (cell offsets unless a cell moved; see HiveFile.h)
  std::uint32_t offOf(std::uint32_t id) const;
  std::uint32_t idOf(std::uint32_t off) const;
  std::uint32_t newIdFor(std::uint32_t off);
  void moveId(std::uint32_t oldOff, std::uint32_t newOff);
  void dropId(std::uint32_t off);

  // ---- reading
  ByteView nkAt(std::uint32_t off) const;
  ByteView vkAt(std::uint32_t off) const;
  ByteView keyCell(KeyId key, std::uint32_t* off = nullptr) const;
  ByteView valueCell(ValueId value, std::uint32_t* off = nullptr) const;
  static bool readName(ByteView cell, std::size_t at, std::size_t len, bool compressed, std::u16string& out);
  bool nkName(ByteView nkv, std::u16string& out) const;
  bool vkName(ByteView vkv, std::u16string& out) const;
  bool nkNameEquals(ByteView nkv, std::u16string_view name) const;
  bool vkNameEquals(ByteView vkv, std::u16string_view name) const;
  // Offsets of the sound children of a key, in list order: each a key node
  // whose parent is this key, none twice, never the root. False when a list
  // had to be cut short.
  bool collectSubkeys(std::uint32_t keyOff, ByteView nkv, std::vector<std::uint32_t>& out) const;
  bool collectLeaf(ByteView leaf, std::uint32_t keyOff, std::uint32_t limit, std::vector<std::uint32_t>& out) const;
  std::uint32_t listedSubkeys(ByteView nkv) const;
  // A listed child is shown under keyOff only when it is a key node with a
  // name, not the root, and keyOff is its parent: the one its parent field
  // names, or the lister checkTree() gave it when that field was wrong.
  bool isChildOf(std::uint32_t keyOff, std::uint32_t child, ByteView c) const;
  std::uint32_t parentOf(std::uint32_t off, ByteView nkv) const;
  // Walks the whole key tree once at open: finds the children whose only
  // fault is their parent field (see adopted_) and reports every unsound
  // list entry, nameless key and impossible size hint. True when all is sound.
  bool checkTree();
  // Part of checkTree(), for one key of the tree: its name, class, security,
  // sub-key list cells, value list, values and data can all be read, and no
  // cell of them is used twice (by this key or any other met so far). A cell
  // used twice would be freed by an edit of one user while the other still
  // reads it.
  struct CellClaims;
  bool checkKeyCells(std::uint32_t keyOff, ByteView nkv, CellClaims& claims) const;
  // The cells that hold a value's data, as the reader follows them (none for
  // resident or empty data). False, with `out` partial, when the reader could
  // not use them.
  bool dataCells(std::uint32_t sizeField, std::uint32_t offField, std::vector<std::uint32_t>& out) const;
  bool collectValues(ByteView nkv, std::vector<std::uint32_t>& out) const;
  std::uint32_t findChild(std::uint32_t keyOff, ByteView nkv, std::u16string_view name) const;
  std::uint32_t findValueOff(ByteView nkv, std::u16string_view name, std::size_t* index = nullptr) const;
  // The value index of the key at `keyOff`, built when it is not the one
  // held; null for a key with few values, which a scan serves as fast.
  struct ValueIndex;
  const ValueIndex* valueIndexFor(std::uint32_t keyOff, ByteView nkv) const;
  // Every write drops the index; setValue keeps it up to date instead.
  void dropValueIndex() const;
  // The children of one key with many, by name hash, built by createKey and
  // kept up to date by it; findChild answers from it while it is held. Null
  // for a key with few children or an unsound list.
  struct SubkeyIndex;
  SubkeyIndex* subkeyIndexFor(std::uint32_t keyOff, ByteView nkv);
  std::uint32_t indexedChild(const SubkeyIndex& index, std::u16string_view name) const;
  // A write that removes or moves a key drops the index.
  void dropSubkeyIndex();
  HiveStatus readData(ByteView vkv, std::vector<std::uint8_t>& out) const;
  bool isBigData(std::uint32_t size, ByteView cell) const;

  // ---- writing
  HiveStatus writable() const;
  void touch(std::uint32_t keyOff);
  std::uint32_t alloc(std::size_t payload);
  std::uint32_t allocName(std::size_t fixed, std::u16string_view name, bool& compressed);
  HiveStatus storeData(std::span<const std::uint8_t> data, std::uint32_t& sizeField, std::uint32_t& offField);
  void freeData(std::uint32_t sizeField, std::uint32_t offField);
  void freeList(std::uint32_t listOff);
  HiveStatus writeSubkeyList(std::uint32_t keyOff, const std::vector<ListEntry>& entries);
  // Puts one entry into a key's sorted sub-key list in place: into the leaf
  // that takes its name, which grows with spare room and splits when full.
  // False (nothing changed) when the list is not of the shape this hive
  // writes; then the caller rewrites it whole. `st` tells a failure to grow.
  // `shapeKnown` skips the check of every leaf (set once one insert passed it).
  bool insertListEntry(std::uint32_t keyOff, ListEntry entry, std::u16string_view name, HiveStatus& st,
                       bool& shapeKnown);
  HiveStatus readListEntries(std::uint32_t keyOff, std::vector<ListEntry>& out);
  std::uint32_t entryHash(std::u16string_view name) const;
  HiveStatus writeValueList(std::uint32_t keyOff, const std::vector<std::uint32_t>& values);
  // Adds one value at the end of a key's sound value list, in amortised
  // constant time (the list cell keeps spare room).
  HiveStatus appendToValueList(std::uint32_t keyOff, std::uint32_t value);
  void recomputeKeyMaxima(std::uint32_t keyOff);
  void recomputeValueMaxima(std::uint32_t keyOff);
  void skAddRef(std::uint32_t skOff);
  void skRelease(std::uint32_t skOff);
  std::uint32_t findOrAddSecurity(std::span<const std::uint8_t> sd, std::uint32_t near);
  HiveStatus saveTo(const std::filesystem::path& path);
  // The file's bytes past the hive's end that a save writes back where they
  // were: what bins appended since have not covered, unless it would read as
  // one more bin of the hive.
  std::span<const std::uint8_t> slackToKeep() const;
  void writeBaseBlock(std::uint8_t* block, std::uint32_t sequence) const;

  HiveImage image_;
  std::filesystem::path path_;
  std::uint32_t root_ = kNoCell;
  unsigned minor_ = 5;
  bool readOnly_ = true;
  bool damaged_ = false;
  bool modified_ = false;
  LogReplayInfo replay_;
  // The bytes the file held past the hive's end (slack), starting at file
  // offset slackAt_. Kept only for hives that may be written.
  std::vector<std::uint8_t> slack_;
  std::size_t slackAt_ = 0;
  // Children listed once, by a key of the tree, whose parent field names
  // another cell: child -> the key that lists them. Empty in a sound hive.
  std::unordered_map<std::uint32_t, std::uint32_t> adopted_;
  std::unordered_map<std::uint32_t, std::uint32_t> idToOff_;
  std::unordered_map<std::uint32_t, std::uint32_t> offToId_;
  std::uint32_t nextSynthetic_ = 0;
  mutable std::vector<std::uint32_t> scratch_;
  // One key's values by position and by upper-cased name. Listing a key and
  // then reading each of its values asks for the same key again and again;
  // without it each question scans the whole value list, and a key with
  // 100,000 values takes minutes instead of milliseconds.
  mutable std::unique_ptr<ValueIndex> valueIndex_;
  std::unique_ptr<SubkeyIndex> subkeyIndex_;
  mutable std::u16string nameScratch_;
};

}  // namespace platform::hive
