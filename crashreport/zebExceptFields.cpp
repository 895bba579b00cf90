#include "crashreport/zebExceptFields.h"

#include "crashreport/zebExcept.h"
#include "crashreport/zebExceptSettings.h"
#include "crashreport/zebStrings.h"

namespace zeb {

namespace {

// Codes 0 to 32 off both ends.
std::string Trimmed(const std::string& value) { return TrimmedCopy(value); }

}  // namespace

void TIZeqFields::BeginAccess() {
  if (ReportChangeTarget* parent = parentException()) parent->BeginChange();
  lock_.lock();
}

void TIZeqFields::EndAccess() {
  ReportChangeTarget* parent = exception_;
  lock_.unlock();
  if (parent) parent->EndChange();
}

ReportChangeTarget* TIZeqFields::parentException() const {
  std::lock_guard lock(lock_);
  return exception_;
}

int TIZeqFields::Count() const {
  std::lock_guard lock(lock_);
  return int(items_.size());
}

std::string TIZeqFields::NameAt(int index) const {
  std::lock_guard lock(lock_);
  return index >= 0 && index < int(items_.size()) ? items_[std::size_t(index)].first : std::string();
}

std::string TIZeqFields::ValueAt(int index) const {
  std::lock_guard lock(lock_);
  return index >= 0 && index < int(items_.size()) ? items_[std::size_t(index)].second : std::string();
}

void TIZeqFields::RenameAt(int index, const std::string& name) {
  {
    std::lock_guard lock(lock_);
    if (index < 0 || index >= int(items_.size()) || items_[std::size_t(index)].first == name) return;
    items_[std::size_t(index)].first = name;
  }
  changed();
}

int TIZeqFields::IndexOfName(std::string_view name) const {
  std::lock_guard lock(lock_);
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (SameTextIgnoringCase(items_[i].first, name)) return int(i);
  return -1;
}

std::string TIZeqFields::ValueOf(std::string_view name) const {
  std::lock_guard lock(lock_);
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : items_[std::size_t(i)].second;
}

void TIZeqFields::Assign(const std::string& name, const std::string& rawValue) {
  {
    std::lock_guard lock(lock_);
    if (!acceptsData_) return;
  }
  const std::string value = Trimmed(rawValue);
  if (value.empty()) {
    Remove(name);
    return;
  }
  {
    std::lock_guard lock(lock_);
    const int i = IndexOfName(name);
    if (i < 0) {
      insertLocked(insertPosition_ > 0 ? insertPosition_ : int(items_.size()), name, value);
    } else {
      auto& item = items_[std::size_t(i)];
      if (item.first == name && item.second == value) return;
      item = {name, value};
    }
  }
  changed();
}

void TIZeqFields::InsertAt(int index, const std::string& name, const std::string& rawValue) {
  const std::string value = Trimmed(rawValue);
  {
    std::lock_guard lock(lock_);
    if (value.empty() || !acceptsData_) return;
    index = std::clamp(index, 0, int(items_.size()));
    const int p = IndexOfName(name);
    if (p >= 0) {
      if (p == index && items_[std::size_t(p)].second == value) return;
      removeAtLocked(p);
      if (p < index) --index;
    }
    insertLocked(index, name, value);
  }
  changed();
}

void TIZeqFields::insertLocked(int index, const std::string& name, const std::string& value) {
  items_.insert(items_.begin() + index, {name, value});
  if (insertPosition_ > 0 && insertPosition_ >= index) ++insertPosition_;
}

void TIZeqFields::removeAtLocked(int index) {
  items_.erase(items_.begin() + index);
  if (insertPosition_ > 0 && index < insertPosition_) --insertPosition_;
}

void TIZeqFields::RemoveAt(int index) {
  {
    std::lock_guard lock(lock_);
    if (index < 0 || index >= int(items_.size())) return;
    removeAtLocked(index);
  }
  changed();
}

void TIZeqFields::Remove(std::string_view name) { RemoveAt(IndexOfName(name)); }

IZeqFields TIZeqFields::Copy() const {
  auto copy = std::make_shared<TIZeqFields>();
  copy->AllowData();
  std::lock_guard lock(lock_);
  for (const auto& [name, value] : items_) copy->Append(name, value);
  return copy;
}

std::string TIZeqFields::SerialisedText() const {
  std::lock_guard lock(lock_);
  std::string text;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i) text += '|';
    text += items_[i].first + "=" + items_[i].second;
  }
  return text;
}

void TIZeqFields::DetachException() { SetException(nullptr); }
void TIZeqFields::DetachSettings() { SetSettings(nullptr); }

void TIZeqFields::SetException(ReportChangeTarget* parent) {
  std::lock_guard lock(lock_);
  exception_ = parent;
}

void TIZeqFields::SetSettings(TIZeqSettings* parent) {
  std::lock_guard lock(lock_);
  settings_ = parent;
}

void TIZeqFields::SetInsertPosition(int index) {
  std::lock_guard lock(lock_);
  insertPosition_ = index;
}

int TIZeqFields::InsertPosition() const {
  std::lock_guard lock(lock_);
  return insertPosition_;
}

void TIZeqFields::AllowData() {
  std::lock_guard lock(lock_);
  acceptsData_ = true;
}

void TIZeqFields::changed() {
  TIZeqSettings* settings;
  ReportChangeTarget* exception;
  std::string text;
  {
    std::lock_guard lock(lock_);
    settings = settings_;
    exception = exception_;
    if (settings) text = SerialisedText();
  }
  if (settings) settings->WriteTextSetting("AddFields", text);
  if (exception) exception->MarkModified();
}

void TIZeqAttachments::BeginAccess() { lock_.lock(); }
void TIZeqAttachments::EndAccess() { lock_.unlock(); }

int TIZeqAttachments::Count() const {
  std::lock_guard lock(lock_);
  return int(items_.size());
}

bool TIZeqAttachments::ItemAt(int index, AttachmentItem& item) const {
  std::lock_guard lock(lock_);
  if (index < 0 || index >= int(items_.size())) return false;
  item = items_[std::size_t(index)];
  return true;
}

void TIZeqAttachments::Append(const std::string& file, const std::string& sendAs, const std::string& zip,
                              const std::string& field) {
  if (file.empty()) return;
  AttachmentItem item{file, sendAs, zip, field};
  if (item.sendAs.empty()) item.sendAs = FileNameOf(file);
  if (item.field.empty()) item.field = item.sendAs.substr(0, item.sendAs.find('.'));
  {
    std::lock_guard lock(lock_);
    items_.push_back(std::move(item));
  }
  changed();
}

bool TIZeqAttachments::Remove(std::string_view file) {
  {
    std::lock_guard lock(lock_);
    auto it = std::find_if(items_.begin(), items_.end(),
                           [&](const AttachmentItem& i) { return SameTextIgnoringCase(i.file, file); });
    if (it == items_.end()) return false;
    items_.erase(it);
  }
  changed();
  return true;
}

void TIZeqAttachments::RemoveAll() {
  {
    std::lock_guard lock(lock_);
    if (items_.empty()) return;
    items_.clear();
  }
  changed();
}

IZeqAttachments TIZeqAttachments::Copy() const {
  auto copy = std::make_shared<TIZeqAttachments>();
  std::lock_guard lock(lock_);
  for (const AttachmentItem& i : items_) copy->Append(i.file, i.sendAs, i.zip, i.field);
  return copy;
}

std::string TIZeqAttachments::SerialisedText() const {
  std::lock_guard lock(lock_);
  std::string text;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (i) text += '|';
    const AttachmentItem& a = items_[i];
    text += a.file + ">" + a.sendAs + ">" + a.zip + ">" + a.field;
  }
  return text;
}

void TIZeqAttachments::SetSettings(TIZeqSettings* parent) {
  std::lock_guard lock(lock_);
  settings_ = parent;
}

void TIZeqAttachments::DetachSettings() { SetSettings(nullptr); }

void TIZeqAttachments::changed() {
  TIZeqSettings* settings;
  std::string text;
  {
    std::lock_guard lock(lock_);
    settings = settings_;
    if (settings) text = SerialisedText();
  }
  if (settings) settings->WriteTextSetting("AddAttachs", text);
}

IZeqAttachments NewAttachmentList() { return std::make_shared<TIZeqAttachments>(); }

IZeqFields NewFieldList(bool acceptsData) {
  auto fields = std::make_shared<TIZeqFields>();
  if (acceptsData) fields->AllowData();
  return fields;
}

}  // namespace zeb
