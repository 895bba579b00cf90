#include "app/CommandLineImport.h"

#include <exception>
#include <optional>
#include <ostream>

#include "app/CommandLine.h"
#include "app/StartupSteps.h"
#include "core/bwlRegTools.h"
#include "platform/ErrorText.h"
#include "platform/RegistryStore.h"

namespace {

std::string keyText(platform::HKEY root, const std::string& path) {
  return "[" + (root ? RootKeyToLongName(root) : std::string("?")) + path + "]";
}

std::string codeText(std::int32_t code) {
  return platform::systemErrorText(static_cast<std::uint32_t>(code)) + " (" + std::to_string(code) + ")";
}

// Watches a writing reader through its events. A section's key is open once
// the reader is past the section line, so a value line the reader hands on
// tells whether it opened; a section with no value line handed on is checked
// when the next one begins (or at the end), by whether its key is there (or
// gone, for "[-...]"). A value line is reported before it is applied, so
// whether it took effect is checked at the next event: data of no known form
// and malformed data write nothing.
class ImportChecker {
public:
  explicit ImportChecker(TMyRegistryReader& reader) : reader_(reader) {
    reader_.OnKey = [this](platform::HKEY root, const std::string& path, bool deleted) {
      finishSection();
      section_ = Section{root, path, deleted};
    };
    reader_.OnValue = [this](platform::HKEY, const std::string&, bool deleted, const std::string&,
                             const std::string&, TRegDataType kind, const std::string& name) {
      finishValue();
      if (!section_) return;
      if (!section_->checked) {
        section_->checked = true;
        if (!section_->deleted && reader_.FRegistry.CurrentKey() == 0)
          fail("cannot open the key " + keyText(section_->root, section_->path) + ": " +
               codeText(reader_.FRegistry.LastError()));
      }
      if (section_->deleted || reader_.FRegistry.CurrentKey() == 0) return;
      if (!deleted && kind == rdUnknown) {
        fail("the value " + valueText(name) + " has data of no known form");
        return;
      }
      // Written (or deleted) right after this event: checked at the next one.
      value_ = Value{name, deleted};
    };
  }

  // Whether the last value line took effect: the value is there (or gone).
  void finishValue() {
    if (!value_ || !section_) return;
    const Value v = *value_;
    value_.reset();
    const bool exists = RegistryValueExists(section_->root, section_->path, v.name, ViewByte::v32);
    if (!v.deleted && !exists) fail("the value " + valueText(v.name) + " was not written");
    if (v.deleted && exists) fail("the value " + valueText(v.name) + " was not deleted");
  }

  void finishSection() {
    finishValue();
    if (!section_ || section_->checked) return;
    const Section s = *section_;
    section_.reset();
    if (!s.root) return fail("unknown root key in " + keyText(s.root, s.path));
    const bool exists = RegistryKeyExists(s.root, s.path, ViewByte::v32);
    // A section whose key did not open has no value lines applied, so the
    // reader's last call was that open and its code is still there.
    if (!s.deleted && !exists) {
      const std::int32_t code = reader_.FRegistry.LastError();
      fail("cannot open the key " + keyText(s.root, s.path) + (code ? ": " + codeText(code) : std::string()));
    }
    if (s.deleted && exists) fail("cannot delete the key " + keyText(s.root, s.path));
  }

  void fail(std::string text) {
    if (firstFailure_.empty()) firstFailure_ = std::move(text);
  }
  const std::string& firstFailure() const { return firstFailure_; }

private:
  struct Section {
    platform::HKEY root;
    std::string path;
    bool deleted;
    bool checked = false;
  };
  struct Value {
    std::string name;
    bool deleted;
  };
  std::string valueText(const std::string& name) const {
    return "'" + (name.empty() ? std::string("@") : name) + "' in " + keyText(section_->root, section_->path);
  }

  TMyRegistryReader& reader_;
  std::optional<Section> section_;
  std::optional<Value> value_;
  std::string firstFailure_;
};

}  // namespace

TImportOutcome ImportRegFileChecked(const std::filesystem::path& file) {
  TImportOutcome outcome;
  TMyRegistryReader reader;
  reader.FWriteToRegistry = true;
  ImportChecker checker(reader);
  try {
    if (!reader.LoadFromFile(file)) checker.fail("cannot be read as registry file text");
    checker.finishSection();
    // The reader's own count covers what the events cannot show, such as
    // malformed data for a value that already existed.
    if (reader.Failures().any()) checker.fail(reader.Failures().text());
  } catch (const std::exception& e) {
    // The reader stops at a refused write or delete.
    checker.fail(e.what());
  }
  // Changes count only once they are in the hive files.
  if (const auto rc = platform::registry::flushAll(); rc != 0)
    checker.fail("the registry hives could not be written back: " + codeText(static_cast<std::int32_t>(rc)));
  outcome.FirstFailure = checker.firstFailure();
  outcome.Succeeded = outcome.FirstFailure.empty();
  return outcome;
}

int RunSilentImport(const TCommandLine& commandLine, std::ostream& errors) {
  const std::filesystem::path file = commandLine.TargetFile();
  if (file.empty()) {
    errors << "hivescope: " << commandLine.Target() << ": no such file\n";
    return 1;
  }
  (void)ApplyHiveLoadingPolicy(commandLine);
  const TImportOutcome outcome = ImportRegFileChecked(file);
  UnloadHivesAtExit();
  if (outcome.Succeeded) return 0;
  errors << "hivescope: " << file.string() << ": " << outcome.FirstFailure << "\n";
  return 1;
}
