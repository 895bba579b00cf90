#pragma once

// What the delivery methods of a bug report share: the attachment lists, the
// multipart boundary of the upload and the mail, the progress they report, and
// the size test that decides whether a file is sent at all.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zeb {

// The boundary of every multipart body the crash reporter writes, upload and
// mail alike; the lengths announced in advance count its 33 characters.
inline constexpr std::string_view kMultipartBoundary = "zebExcept_Multipart.Boundary_9f3e";
static_assert(kMultipartBoundary.size() == 33);

// Three parallel lists: the absolute file paths, the names to send them under
// and their form field names.
struct AttachmentLists {
  std::vector<std::string> files;
  std::vector<std::string> sendAs;
  std::vector<std::string> fields;

  std::size_t Count() const { return files.size(); }
  void Add(std::string file, std::string name, std::string field) {
    files.push_back(std::move(file));
    sendAs.push_back(std::move(name));
    fields.push_back(std::move(field));
  }
  void Clear() {
    files.clear();
    sendAs.clear();
    fields.clear();
  }
};

// The progress a delivery reports. The work is a row of weighted areas; the
// bar stands at the finished areas' weights plus the current area's position
// (0..1000) of its own weight. The progress window implements it; a delivery
// without a window uses NullSendProgress.
class SendProgress {
public:
  virtual ~SendProgress() = default;
  virtual void AddArea(std::int64_t weight, const std::string& text) = 0;
  virtual void ClearAreas() = 0;
  // The current area is finished; the next one becomes current.
  virtual void AreaDone() = 0;
  virtual int CurrentArea() const = 0;
  virtual void SetCurrentArea(int index) = 0;
  virtual void SetPosition(int permille) = 0;
  // Shows the window; `activate` off for a delivery without the user.
  virtual bool Show(bool activate) = 0;
  virtual void Close() = 0;
};

class NullSendProgress final : public SendProgress {
public:
  void AddArea(std::int64_t, const std::string&) override { ++areas_; }
  void ClearAreas() override { areas_ = 0, current_ = 0; }
  void AreaDone() override { SetCurrentArea(current_ + 1); }
  int CurrentArea() const override { return current_; }
  void SetCurrentArea(int index) override {
    if (index >= 0 && index <= areas_) current_ = index;
  }
  void SetPosition(int) override {}
  bool Show(bool) override { return true; }
  void Close() override {}

private:
  int areas_ = 0;
  int current_ = 0;
};

// The file's size when it can be opened for reading, else 0; such a file is
// neither counted nor sent.
std::uint64_t AttachmentFileSize(const std::string& path);

}  // namespace zeb
