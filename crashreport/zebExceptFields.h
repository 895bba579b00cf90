#pragma once

// Named texts and files that travel with a bug report. TIZeqFields is an
// ordered list of name/value pairs (report header and sections, additional
// fields, the assistants' form cache); TIZeqAttachments a list of files to
// send. Both are safe to share between threads; the lock is re-entrant, so a
// caller may bracket several calls with BeginAccess/EndAccess.
//
// A list may have a settings parent, into whose AddFields or AddAttachs setting
// every change is written back as "a=1|b=2" or "file>sendas>zip>field" (texts
// as they are: a separator inside them splits differently on reading), and a
// fields list a report parent, whose report every change marks as changed.
// Parents are plain pointers: a parent detaches its lists before it goes.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

class TIZeqSettings;

// What a fields list tells the report it belongs to.
class ReportChangeTarget {
public:
  virtual ~ReportChangeTarget() = default;
  virtual void BeginChange() = 0;
  virtual void EndChange() = 0;
  virtual void MarkModified() = 0;
};

class TIZeqFields;
using IZeqFields = std::shared_ptr<TIZeqFields>;

class TIZeqFields {
public:
  TIZeqFields() = default;
  TIZeqFields(const TIZeqFields&) = delete;
  TIZeqFields& operator=(const TIZeqFields&) = delete;

  void BeginAccess();
  void EndAccess();
  int Count() const;
  // Empty for an index out of range.
  std::string NameAt(int index) const;
  std::string ValueAt(int index) const;
  void RenameAt(int index, const std::string& name);
  // First item whose name equals, letter case ignored; -1 when none.
  int IndexOfName(std::string_view name) const;
  std::string ValueOf(std::string_view name) const;
  // Sets, adds or (for a value that trims to nothing) removes a named value.
  void Assign(const std::string& name, const std::string& value);
  void Append(const std::string& name, const std::string& value) { Assign(name, value); }
  // Puts a named value at a position (clamped); the list never holds a name twice.
  void InsertAt(int index, const std::string& name, const std::string& value);
  void RemoveAt(int index);
  void Remove(std::string_view name);
  // A new list accepting data, without parents, with the same items.
  IZeqFields Copy() const;
  // "a=1|b=2".
  std::string SerialisedText() const;

  void DetachException();
  void DetachSettings();
  void SetException(ReportChangeTarget* parent);
  void SetSettings(TIZeqSettings* parent);
  // Where Assign puts a new name; 0 or less: at the end.
  void SetInsertPosition(int index);
  int InsertPosition() const;
  // Until this is called, Assign and InsertAt ignore what they are given.
  void AllowData();

private:
  void changed();
  void insertLocked(int index, const std::string& name, const std::string& value);
  void removeAtLocked(int index);
  ReportChangeTarget* parentException() const;

  mutable std::recursive_mutex lock_;
  ReportChangeTarget* exception_ = nullptr;
  TIZeqSettings* settings_ = nullptr;
  std::vector<std::pair<std::string, std::string>> items_;
  int insertPosition_ = 0;
  bool acceptsData_ = false;
};

struct AttachmentItem {
  std::string file;
  std::string sendAs;
  std::string zip;
  std::string field;
  bool operator==(const AttachmentItem&) const = default;
};

class TIZeqAttachments;
using IZeqAttachments = std::shared_ptr<TIZeqAttachments>;

class TIZeqAttachments {
public:
  TIZeqAttachments() = default;
  TIZeqAttachments(const TIZeqAttachments&) = delete;
  TIZeqAttachments& operator=(const TIZeqAttachments&) = delete;

  void BeginAccess();
  void EndAccess();
  int Count() const;
  // False for an index out of range (`item` then untouched).
  bool ItemAt(int index, AttachmentItem& item) const;
  // Nothing for an empty file. An empty send-as name becomes the file's name
  // without folder; an empty field name the send-as name up to its first ".".
  void Append(const std::string& file, const std::string& sendAs = {}, const std::string& zip = {},
              const std::string& field = {});
  // The first item whose file equals, letter case ignored; true when removed.
  bool Remove(std::string_view file);
  void RemoveAll();
  IZeqAttachments Copy() const;
  // "file>sendas>zip>field|...".
  std::string SerialisedText() const;

  void SetSettings(TIZeqSettings* parent);
  void DetachSettings();

private:
  void changed();

  mutable std::recursive_mutex lock_;
  TIZeqSettings* settings_ = nullptr;
  std::vector<AttachmentItem> items_;
};

// A new empty list without parent.
IZeqAttachments NewAttachmentList();
IZeqFields NewFieldList(bool acceptsData = true);

}  // namespace zeb
