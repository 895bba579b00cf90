#include "crashreport/zebCrashUiAssistant.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "crashreport/zebExcept.h"

extern char** environ;

namespace zeb {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EqualNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && Lower(a) == Lower(b); }

bool ReadBool(std::string_view value) {
  const std::string v = Lower(value);
  return v == "yes" || v == "true" || v == "1";
}

int ReadInt(std::string_view value) {
  int sign = 1;
  std::size_t i = 0;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) sign = value[i++] == '-' ? -1 : 1;
  long long n = 0;
  for (; i < value.size() && std::isdigit(static_cast<unsigned char>(value[i])); ++i) {
    n = n * 10 + (value[i] - '0');
    if (n > 0x7FFFFFFF) break;
  }
  return int(std::clamp<long long>(sign * n, -0x7FFFFFFFLL, 0x7FFFFFFFLL));
}

std::string ReplaceLineFeeds(std::string text) {
  for (std::size_t at = 0; (at = Lower(text).find("%lf%", at)) != std::string::npos;) {
    text.replace(at, 4, "\r\n");
    at += 2;
  }
  return text;
}

NVItem StandardButton(std::string name, std::string caption) {
  NVItem item;
  item.kind = NVItemKind::Button;
  item.name = std::move(name);
  item.caption = std::move(caption);
  return item;
}

// A bounded little-endian reader over the resource.
class FormReader {
public:
  FormReader(std::span<const std::uint8_t> bytes, NVForm& form) : bytes_(bytes), form_(form) {}

  void Read() {
    pos_ = 4;  // after "TPF0"
    ReadObject(0);
  }

private:
  static constexpr int kMaxDepth = 16;

  bool Byte(std::uint8_t& out) {
    if (pos_ >= bytes_.size()) return Fail(lastType_);
    out = bytes_[pos_++];
    return true;
  }
  bool Bytes(std::size_t count, std::string& out) {
    if (count > bytes_.size() - pos_) return Fail(lastType_);
    out.assign(reinterpret_cast<const char*>(bytes_.data() + pos_), count);
    pos_ += count;
    return true;
  }
  bool ShortString(std::string& out) {
    std::uint8_t length = 0;
    return Byte(length) && Bytes(length, out);
  }
  bool Integer(std::size_t size, std::int64_t& out) {
    if (size > bytes_.size() - pos_) return Fail(lastType_);
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < size; ++k) v |= std::uint64_t(bytes_[pos_ + k]) << (8 * k);
    pos_ += size;
    const int shift = int(64 - 8 * size);
    out = std::int64_t(v << shift) >> shift;
    return true;
  }
  bool Fail(int type) {
    if (!failed_) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%02X", type & 0xFF);
      form_.readError = std::string("Internal error: Invalid assistant resource (") + hex + ").";
    }
    failed_ = true;
    return false;
  }

  bool Value(std::string& out) {
    std::uint8_t type = 0;
    if (!Byte(type)) return false;
    lastType_ = type;
    std::int64_t n = 0;
    switch (type) {
      case 2: if (!Integer(1, n)) return false; out = std::to_string(n); return true;
      case 3: if (!Integer(2, n)) return false; out = std::to_string(n); return true;
      case 4: if (!Integer(4, n)) return false; out = std::to_string(n); return true;
      case 6:
      case 7: return ShortString(out);
      case 8: out = "0"; return true;
      case 9: out = "1"; return true;
      case 12: {
        if (!Integer(4, n)) return false;
        if (n < 0) return Fail(type);
        return Bytes(std::size_t(n), out);
      }
      default: return Fail(type);
    }
  }

  bool ReadObject(int depth) {
    if (depth > kMaxDepth) return Fail(0);
    std::string className, objectName;
    if (!ShortString(className) || !ShortString(objectName)) return false;
    if (!className.empty()) className[0] = 'T';
    if (objectName == "AbortBtn") objectName = "CancelBtn";

    NVItem* item = nullptr;
    std::size_t itemIndex = 0;
    bool isItem = true;
    NVItemKind kind = NVItemKind::Button;
    if (className == "TNVButton") kind = NVItemKind::Button;
    else if (className == "TNVLabel") kind = NVItemKind::Label;
    else if (className == "TNVEdit") kind = NVItemKind::Edit;
    else if (className == "TNVCheckBox") kind = NVItemKind::CheckBox;
    else if (className == "TNVImage") kind = NVItemKind::Image;
    else isItem = false;
    if (isItem) {
      const int standard = kind == NVItemKind::Button ? form_.IndexOf(objectName) : -1;
      if (standard >= 0 && standard <= kCancelItem) {
        itemIndex = std::size_t(standard);
      } else {
        NVItem fresh;
        fresh.kind = kind;
        fresh.name = objectName;
        fresh.tabStop = kind != NVItemKind::Label && kind != NVItemKind::Image;
        form_.items.push_back(std::move(fresh));
        itemIndex = form_.items.size() - 1;
      }
    } else if (!namedForm_) {
      form_.name = objectName;
      namedForm_ = true;
    }

    while (true) {
      std::string name;
      if (!ShortString(name)) return false;
      if (name.empty()) break;
      std::string value;
      if (!Value(value)) return false;
      if (isItem) {
        item = &form_.items[itemIndex];
        ItemProperty(*item, name, value);
      } else {
        FormProperty(name, value);
      }
    }
    while (true) {
      if (pos_ >= bytes_.size()) return Fail(lastType_);
      if (bytes_[pos_] == 0) {
        ++pos_;
        break;
      }
      if (!ReadObject(depth + 1)) return false;
    }
    return true;
  }

  void FormProperty(const std::string& name, const std::string& value) {
    if (name == "Message") form_.message = value;
    else if (name == "MinWidth") form_.minWidth = ReadInt(value);
    else if (name == "ActiveControl") form_.activeControl = value;
    else if (name == "Timer") form_.timerInterval = std::max(ReadInt(value), 0);
    else if (name == "OnAction") {
      form_.onAction = value;
      form_.handler = BuiltInFormHandler(value);
    }
  }

  static void ItemProperty(NVItem& item, const std::string& name, const std::string& value) {
    if (name == "Spacing") item.spacing = ReadInt(value);
    else if (name == "Enabled") item.enabled = ReadBool(value);
    else if (name == "OutputType") item.ownSection = Lower(value).find("ownsection") != std::string::npos;
    else if (name == "OutputName") item.outputName = value;
    else switch (item.kind) {
      case NVItemKind::Button:
        if (name == "Caption") item.caption = value;
        else if (name == "MinWidth") item.minWidth = ReadInt(value);
        else if (name == "NoOwnerDraw") item.noOwnerDraw = ReadBool(value);
        else if (name == "Visible") item.invisible = !ReadBool(value);
        break;
      case NVItemKind::Label:
        if (name == "Caption") item.caption = value;
        break;
      case NVItemKind::Edit:
        if (name == "Text") item.text = ReplaceLineFeeds(value);
        else if (name == "Lines") item.lines = ReadInt(value);
        else if (name == "Optional") item.optional = ReadBool(value);
        else if (name == "Colored") item.colored = ReadBool(value);
        else if (name == "Valid") item.valid = ReadBool(value);
        break;
      case NVItemKind::CheckBox:
        if (name == "Caption" || name == "Text") item.caption = value;
        else if (name == "Checked") item.checked = ReadBool(value);
        break;
      case NVItemKind::Image:
        if (name == "Width") item.width = std::max(ReadInt(value), 0);
        else if (name == "Height") item.height = std::max(ReadInt(value), 0);
        else if (name == "File") item.file = value;
        else if (name == "Clickable") item.clickable = ReadBool(value);
        else if (name == "Border") item.border = ReadBool(value);
        break;
    }
  }

  std::span<const std::uint8_t> bytes_;
  NVForm& form_;
  std::size_t pos_ = 0;
  int lastType_ = 0;
  bool failed_ = false;
  bool namedForm_ = false;
};

// --- writer -----------------------------------------------------------------

void PutShort(std::vector<std::uint8_t>& out, std::string_view text) {
  out.push_back(std::uint8_t(std::min<std::size_t>(text.size(), 255)));
  out.insert(out.end(), text.begin(), text.begin() + std::ptrdiff_t(std::min<std::size_t>(text.size(), 255)));
}

void PutInt(std::vector<std::uint8_t>& out, std::int64_t v) {
  if (v >= -128 && v <= 127) {
    out.push_back(2);
    out.push_back(std::uint8_t(v));
  } else if (v >= -32768 && v <= 32767) {
    out.push_back(3);
    for (int k = 0; k < 2; ++k) out.push_back(std::uint8_t(std::uint64_t(v) >> (8 * k)));
  } else {
    out.push_back(4);
    for (int k = 0; k < 4; ++k) out.push_back(std::uint8_t(std::uint64_t(v) >> (8 * k)));
  }
}

}  // namespace

NVForm::NVForm() {
  items.push_back(StandardButton("ContinueBtn", "Next >"));
  items.push_back(StandardButton("SkipBtn", "Skip"));
  items.push_back(StandardButton("CancelBtn", "Cancel"));
}

NVItem* NVForm::Find(std::string_view itemName, NVItemKind kind) {
  for (NVItem& item : items)
    if (item.kind == kind && item.name == itemName) return &item;
  return nullptr;
}

int NVForm::IndexOf(std::string_view itemName) const {
  for (std::size_t k = 0; k < items.size(); ++k)
    if (items[k].name == itemName) return int(k);
  return -1;
}

void ReadFormResource(std::span<const std::uint8_t> bytes, NVForm& form) {
  if (bytes.size() < 4 || std::memcmp(bytes.data(), "TPF0", 4) != 0) return;
  FormReader(bytes, form).Read();
}

std::vector<std::uint8_t> WriteFormResource(std::string_view description, std::string* error) {
  std::vector<std::uint8_t> out{'T', 'P', 'F', '0'};
  // Each open object first writes its properties, then its children; the
  // properties end when the first child or its "end" comes.
  std::vector<bool> inChildren;
  int lineNumber = 0;
  std::size_t pos = 0;
  auto fail = [&] {
    if (error) *error = "line " + std::to_string(lineNumber);
    return std::vector<std::uint8_t>{};
  };
  while (pos <= description.size()) {
    const std::size_t nl = description.find('\n', pos);
    std::string_view line = description.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? description.size() + 1 : nl + 1;
    ++lineNumber;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    auto word = [&line]() {
      const std::size_t space = line.find(' ');
      std::string_view w = line.substr(0, space);
      line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
      return w;
    };
    const std::string_view first = word();
    if (first == "object") {
      const std::string_view name = word();
      const std::string_view cls = word();
      if (cls.empty()) return fail();
      if (!inChildren.empty() && !inChildren.back()) {
        out.push_back(0);  // the parent's properties end
        inChildren.back() = true;
      }
      PutShort(out, cls);
      PutShort(out, name);
      inChildren.push_back(false);
    } else if (first == "end") {
      if (inChildren.empty()) return fail();
      if (!inChildren.back()) out.push_back(0);
      out.push_back(0);
      inChildren.pop_back();
    } else {
      if (inChildren.empty() || inChildren.back()) return fail();
      const std::string_view type = word();
      PutShort(out, first);
      if (type == "text" || type == "ident") {
        if (type == "text" && line.size() > 255) {
          out.push_back(12);
          for (int k = 0; k < 4; ++k) out.push_back(std::uint8_t(line.size() >> (8 * k)));
          out.insert(out.end(), line.begin(), line.end());
        } else {
          out.push_back(type == "text" ? 6 : 7);
          PutShort(out, line);
        }
      } else if (type == "int") {
        PutInt(out, ReadInt(line));
      } else if (type == "bool") {
        out.push_back(ReadBool(line) ? 9 : 8);
      } else {
        return fail();
      }
    }
  }
  if (!inChildren.empty()) return fail();
  return out;
}

FormHandler BuiltInFormHandler(std::string_view name) {
  if (EqualNoCase(name, "zebExcept.HandleContactForm")) return HandleContactForm;
  if (EqualNoCase(name, "zebExcept.HandleScreenshotForm")) return HandleScreenshotForm;
  return {};
}

void ValidateForm(NVForm& form) {
  bool ok = true;
  for (std::size_t k = 3; k < form.items.size(); ++k) {
    const NVItem& item = form.items[k];
    if (item.kind != NVItemKind::Edit) continue;
    if (!(item.optional || (item.valid && !item.text.empty()))) ok = false;
  }
  form.items[kContinueItem].forceDisabled = !ok;
}

int NextFocusItem(const NVForm& form, int from, bool forward) {
  const int count = int(form.items.size());
  if (count == 0) return -1;
  // The ring runs in list order.
  int k = from;
  for (int steps = 0; steps < count; ++steps) {
    k = forward ? (k + 1) % count : (k - 1 + count) % count;
    if (k == from) break;
    const NVItem& item = form.items[std::size_t(k)];
    if (item.IsEnabled() && item.tabStop && !item.invisible) return k;
  }
  return -1;
}

FormButtonPlacement PlaceFormButtons(const NVForm& form, const int widths[3], int clientWidth) {
  FormButtonPlacement p;
  const NVItem& cont = form.items[kContinueItem];
  const NVItem& skip = form.items[kSkipItem];
  const NVItem& cancel = form.items[kCancelItem];
  if (cont.noOwnerDraw && cancel.noOwnerDraw && skip.invisible) {
    p.x[kCancelItem] = clientWidth - widths[kCancelItem] - 8;
    p.x[kContinueItem] = p.x[kCancelItem] - 8 - widths[kContinueItem];
    p.x[kSkipItem] = 8;
  } else {
    p.x[kContinueItem] = 8;
    p.x[kSkipItem] = 8 + widths[kContinueItem] + 8;
    p.x[kCancelItem] = clientWidth - widths[kCancelItem] - 8;
  }
  return p;
}

int FormClientWidth(const NVForm& form, const int widths[3], int messageWidth) {
  int sum = 0;
  for (int k = 0; k < 3; ++k) sum += form.items[std::size_t(k)].invisible ? -8 : widths[k];
  return std::max({sum + 32, 315, form.minWidth, messageWidth + form.steps * 19 + 36});
}

int ItemGap(const NVForm& form, std::size_t index, bool headLabel) {
  const auto& items = form.items;
  const NVItem& item = items[index];
  if (item.spacing != 0) return item.spacing;
  if (index + 1 >= items.size()) return 0;
  if (headLabel) return 4;
  const NVItem& next = items[index + 1];
  if (next.kind == item.kind) {
    switch (item.kind) {
      case NVItemKind::Button: return 4;
      case NVItemKind::Edit: return 6;
      default: return 8;
    }
  }
  auto isHead = [](const NVItem& it) {
    return it.kind == NVItemKind::Label && !it.caption.empty() &&
           (it.caption.back() == ':' || it.caption.back() == '?') && it.caption.find('\n') == std::string::npos;
  };
  if (index >= 1 && isHead(items[index - 1]) && isHead(next) && index + 2 < items.size() &&
      items[index + 2].kind == item.kind)
    return 8;
  return 12;
}

std::string FindAssistantDefinition(const CrashUiSettings& settings, std::string_view name) {
  for (int n = 1; n <= 99; ++n) {
    const std::string definition = settings.Text("Assistant" + std::to_string(n));
    if (definition.empty()) break;
    if (EqualNoCase(definition.substr(0, definition.find('|')), name)) return definition;
  }
  return {};
}

NVAssistant LoadAssistant(std::string_view definition, AssistantContext* context,
                          const std::function<std::span<const std::uint8_t>(std::string_view)>& resourceOf) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  while (true) {
    const std::size_t bar = definition.find('|', pos);
    parts.emplace_back(definition.substr(pos, bar == std::string_view::npos ? std::string_view::npos : bar - pos));
    if (bar == std::string_view::npos) break;
    pos = bar + 1;
  }
  NVAssistant assistant;
  assistant.name = parts[0];
  if (parts.size() > 1) assistant.title = parts[1];
  const std::size_t count = parts.size() > 2 ? parts.size() - 2 : 0;
  for (std::size_t k = 0; k < count; ++k) {
    NVForm form;
    form.step = int(k) + 1;
    form.steps = int(count);
    form.title = assistant.title;
    ReadFormResource(resourceOf ? resourceOf(parts[k + 2]) : AssistantFormResource(parts[k + 2]), form);
    if (form.name.empty()) form.name = parts[k + 2];
    assistant.forms.push_back(std::move(form));
  }
  // Every form exists before any handler runs.
  for (NVForm& form : assistant.forms) FireFormAction(form, kFormCreated, nullptr, context);
  return assistant;
}

AssistantYield CollectAssistantYield(const NVAssistant& assistant) {
  AssistantYield yield;
  if (assistant.modalResult != kFormContinue) return yield;
  for (const NVForm& form : assistant.forms) {
    if (form.modalResult != kFormContinue) continue;
    for (std::size_t k = 3; k < form.items.size(); ++k) {
      const NVItem& item = form.items[k];
      if (item.outputName.empty()) continue;
      if (item.kind == NVItemKind::Edit && !item.text.empty()) {
        if (item.ownSection && item.lines > 1) yield.sections.emplace_back(item.outputName, item.text);
        else yield.header.emplace_back(item.outputName, item.text);
      } else if (item.kind == NVItemKind::CheckBox) {
        yield.header.emplace_back(item.outputName, item.checked ? "yes" : "no");
      }
    }
  }
  return yield;
}

bool IsValidEmailAddress(std::string_view text) {
  if (text.empty()) return false;
  auto edge = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  if (edge(text.front()) || edge(text.back())) return false;
  const std::size_t at = text.rfind('@');
  if (at == std::string_view::npos || at == 0) return false;
  if (text.find('.', text.find('@') + 1) == std::string_view::npos) return false;
  if (text.front() == '.' || text.back() == '.' || (at + 1 < text.size() && text[at + 1] == '.')) return false;
  std::string rest;
  bool word = false, dot = false;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 128 && std::isalnum(u)) || c == '\'' || c == '+' || c == '-' || c == '_') word = true;
    else if (c == '.') dot = true;
    else rest += c;
  }
  return word && dot && rest == "@";
}

void FireFormAction(NVForm& form, int action, NVItem* item, AssistantContext* context) {
  if (!form.handler) return;
  try {
    form.handler(form, action, item, context);
  } catch (...) {
    // A handler's failure never reaches the window.
  }
}

// --- the contact form -----------------------------------------------------------

namespace {

constexpr std::uintptr_t kCurrentUser = 0x80000001;
constexpr const char* kContactKey = "Software\\Pellward\\ContactForm";

}  // namespace

void HandleContactForm(NVForm& form, int action, NVItem* item, AssistantContext* context) {
  NVItem* name = form.Find("NameEdit", NVItemKind::Edit);
  NVItem* email = form.Find("EmailEdit", NVItemKind::Edit);
  NVItem* remember = form.Find("MemCheck", NVItemKind::CheckBox);
  auto check = [&] {
    if (email) email->valid = IsValidEmailAddress(email->text);
    ValidateForm(form);
  };
  if (action == kFormCreated) {
    const std::string rememberedName = ReadRegistryText(kCurrentUser, kContactKey, "RememberName");
    const std::string rememberedEmail = ReadRegistryText(kCurrentUser, kContactKey, "RememberEmail");
    if (rememberedName.empty() && rememberedEmail.empty()) return;
    if (name) name->text = rememberedName;
    if (email) email->text = rememberedEmail;
    check();
    if (remember) remember->checked = true;
    if (form.items[kContinueItem].IsEnabled()) form.activeControl = form.items[kContinueItem].name;
  } else if (action == kFormItemEvent && item && item == email) {
    check();
  } else if (action == kFormClosing && form.modalResult == kFormContinue) {
    if (remember && remember->checked) {
      WriteRegistryText(kCurrentUser, kContactKey, "RememberName", name ? name->text : std::string());
      WriteRegistryText(kCurrentUser, kContactKey, "RememberEmail", email ? email->text : std::string());
    } else {
      DeleteRegistryValue(kCurrentUser, kContactKey, "RememberName");
      DeleteRegistryValue(kCurrentUser, kContactKey, "RememberEmail");
    }
    if (context && name && !name->text.empty()) {
      context->mailFrom = name->text + " <" + (email ? email->text : std::string()) + ">";
      context->mailFromSet = true;
    }
  }
}

// --- the screenshot form --------------------------------------------------------

namespace {

// What the screenshot form keeps while the image is edited outside: the
// file's stamp when last read (full-resolution time and size, so a quick
// save within the same second is seen) and the editor's process.
struct ScreenshotEdit {
  std::int64_t mtimeNs = -1;
  std::int64_t size = -1;
  pid_t editor = 0;
};

bool Stamp(const std::string& path, std::int64_t& mtimeNs, std::int64_t& size) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  mtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  size = std::int64_t(st.st_size);
  return true;
}

pid_t StartEditor(const std::string& program, const std::string& file) {
  std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>(file.c_str()), nullptr};
  pid_t pid = 0;
  if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return 0;
  return pid;
}

}  // namespace

void HandleScreenshotForm(NVForm& form, int action, NVItem* item, AssistantContext* context) {
  if (!context) return;
  NVItem* image = form.Find("ScrShotImg", NVItemKind::Image);
  NVItem* attach = form.Find("AttachCheck", NVItemKind::CheckBox);
  auto edit = std::static_pointer_cast<ScreenshotEdit>(form.handlerData);
  if (action == kFormCreated) {
    if (image) image->bitmap = context->screenshot;
    if (attach) attach->checked = context->attachScreenshot;
  } else if (action == kFormItemEvent && item && item->kind == NVItemKind::Image && item->bitmap) {
    if (!edit) {
      if (!context->screenshot || context->screenshotFile.empty()) return;
      if (!context->screenshot->SaveAsBmp(context->screenshotFile)) return;
      edit = std::make_shared<ScreenshotEdit>();
      Stamp(context->screenshotFile, edit->mtimeNs, edit->size);
      form.handlerData = edit;
    }
    if (edit->editor > 0) {
      int status = 0;
      if (::waitpid(edit->editor, &status, WNOHANG) == edit->editor) edit->editor = 0;
    }
    if (edit->editor <= 0) {
      edit->editor = StartEditor(context->editor, context->screenshotFile);
      if (edit->editor <= 0 && context->beep) context->beep();
    }
  } else if (action == kFormItemEvent && !item && edit) {
    std::int64_t mtime = 0, size = 0;
    if (!Stamp(context->screenshotFile, mtime, size)) return;
    if (mtime == edit->mtimeNs && size == edit->size) return;
    NVBitmapPtr loaded = LoadBmpFile(context->screenshotFile);
    if (!loaded) return;
    edit->mtimeNs = mtime;
    edit->size = size;
    context->screenshot = loaded;
    context->screenshotChanged = true;
    if (image) image->bitmap = loaded;
  } else if (action == kFormClosing) {
    if (edit) {
      form.handlerData.reset();
      // The editor keeps running; its exit is no longer awaited here.
      ::unlink(context->screenshotFile.c_str());
    }
    if (attach) context->attachScreenshot = attach->checked;
  }
}

}  // namespace zeb

namespace zeb {

struct CompiledForm {
  const char* name;
  const unsigned char* data;
  std::size_t size;
};
extern const CompiledForm kCompiledForms[];

std::span<const std::uint8_t> AssistantFormResource(std::string_view formName) {
  std::string wanted = "TZEQ";
  for (char c : formName) wanted += char(std::toupper(static_cast<unsigned char>(c)));
  for (const CompiledForm* form = kCompiledForms; form->name; ++form)
    if (wanted == form->name) return {form->data, form->size};
  return {};
}

}  // namespace zeb
