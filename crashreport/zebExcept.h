#pragma once

// The crash reporter's small shared services: names and paths, the temporary
// folder, the module list, exception class names and messages, the expansion
// of variables in message texts, and the clipboard. None keeps state; every
// one answers with empty text, false or "Unknown" rather than throwing.

#include <cstdint>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <functional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

namespace zeb {

// --- Names and paths ---------------------------------------------------------

// The program file's name without its folder ("hivescope").
std::string ProgramFileName();
// After the last "\" or "/" (all of it when there is none).
std::string FileNameOf(std::string_view path);
// Up to and including the last "\" or "/" (all of it when there is none).
std::string FolderOf(std::string_view path);
// Without everything from the last "." of the name on.
std::string WithoutExtension(std::string_view name);

// The file a path from the settings names: a Windows path goes through the
// drive table; a relative name lies in the user's data folder, because the
// program's own folder is not writable. Empty for an empty path.
std::filesystem::path ResolveSettingsPath(std::string_view path);

// "<temp>/<program>.zebExcept/", created 0700 when missing; $TMPDIR or /tmp.
// Empty when it cannot be created, or when it is not this user's own folder
// closed to others.
std::string TempFolder();
// Deletes the files in the temporary folder and then the folder; subfolders
// are not entered, so a folder holding one stays.
void ClearTempFolder();

// The machine's host name.
std::string ComputerName();

// --- Registry (8-bit texts; root is a predefined key such as 0x80000001) -----

// A REG_SZ value up to its first zero, any other type as its raw bytes; empty
// on any failure.
std::string ReadRegistryText(std::uintptr_t root, const std::string& keyPath, const std::string& valueName);
// Creates the key when missing and writes a REG_SZ value.
bool WriteRegistryText(std::uintptr_t root, const std::string& keyPath, const std::string& valueName,
                       const std::string& text);
bool DeleteRegistryValue(std::uintptr_t root, const std::string& keyPath, const std::string& valueName);

// --- Process state -----------------------------------------------------------

struct TModule {
  std::uintptr_t base = 0;  // lowest address of the mapped file
  std::uintptr_t end = 0;   // one past its highest mapped address
  std::string path;
  std::string fileName;     // without its folder
};
using TDAModule = std::vector<TModule>;

// The files mapped into this process, in address order, read from
// /proc/self/maps (not through the loader, whose lock a crash inside dlopen
// may hold). Each file once, over all its mappings.
TDAModule ModuleList();
TDAModule ParseModuleMaps(std::string_view maps);

// Whether the loader lock is held. It cannot be queried here, so the answer
// is false; the callers bound their waits instead.
bool IsProcessLocked(int waitMilliseconds);

// --- Exceptions --------------------------------------------------------------

// The exception object the crash reporter makes for a fault that carries no
// C++ exception (a fatal signal, a frozen main thread).
class ZebException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The dynamic type of the exception held, null for none or a type the
// run-time cannot name.
const std::type_info* ExceptionType(const std::exception_ptr& exception);
// Whether the type or one of its public bases is named exactly `className`
// (the demangled name, or its last "::" part).
bool IsOfClass(const std::type_info* type, std::string_view className);
// The demangled name of the exception's type without its namespaces;
// "Unknown" for none.
std::string ExceptionClassName(const std::exception_ptr& exception);
// what() of a std::exception, else the class name; controls but CR and LF
// removed, blanks trimmed; "Unknown" when that leaves nothing.
std::string ExceptionMessageText(const std::exception_ptr& exception);
// Trailing ".", "!" and zero characters replaced by one "."; "." stays.
std::string AsSentence(std::string_view message);

// --- Texts -------------------------------------------------------------------

// Replaces, letter case ignored, %appname%, %modname%, %appversion%,
// %modversion%, %exceptMsg% ("Unknown" when empty), %bugReport%, %LF% (CR LF),
// %date%, %time%, %datetime%, %userappdata% and %commonappdata%.
// `versionText` is the program's settings' version text; empty gives the
// program's own version.
std::string ExpandVariables(std::string_view moduleName, std::string text, std::string_view exceptionMessage,
                            std::string_view bugReport, std::string_view versionText = {});

// Puts text on the clipboard through the sink the windows install (on the GUI
// thread); without one nothing happens.
using ClipboardSink = std::function<void(const std::string&)>;
void SetClipboardSink(ClipboardSink sink);
void CopyToClipboard(const std::string& text);

}  // namespace zeb
