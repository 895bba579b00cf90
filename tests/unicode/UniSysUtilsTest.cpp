#include "unicode/UniSysUtils.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/Text.h"
#include "platform/WinTypes.h"
#include "tests/support/TempDir.h"

using namespace uni;

namespace {

std::u16string wide(const std::filesystem::path& path) { return platform::wtf8ToUtf16(path.string()); }

}  // namespace

TEST(UniSysUtilsPaths, SplitAtBackslashAndColonOnly) {
  enum Fn { Dir, Drive, Ext };
  struct Case {
    Fn fn;
    std::u16string in;
    std::u16string out;
  };
  const Case cases[] = {
      {Dir, u"C:\\a\\b.txt", u"C:\\a"},
      {Dir, u"C:\\b.txt", u"C:\\"},
      {Dir, u"C:\\", u"C:\\"},
      {Dir, u"C:b.txt", u"C:"},
      {Dir, u"\\\\srv\\sh\\f.txt", u"\\\\srv\\sh"},
      {Dir, u"\\f.txt", u"\\"},
      {Dir, u"name.txt", u""},
      {Dir, u"a/b/c.txt", u""},  // "/" is no delimiter
      {Drive, u"C:\\x", u"C:"},
      {Drive, u"\\\\server\\share\\dir", u"\\\\server\\share"},
      {Drive, u"\\\\server", u"\\\\server"},
      {Drive, u"\\\\server\\share", u"\\\\server\\share"},
      {Drive, u"x", u""},
      {Drive, u"\\dir", u""},
      {Ext, u"a.tar.gz", u".gz"},
      {Ext, u"dir.d\\file", u""},
      {Ext, u"C:.cfg", u".cfg"},
      {Ext, u"noext", u""},
      {Ext, u"trailing.", u"."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::utf16ToWtf8(c.in));
    const std::u16string got = c.fn == Dir     ? WideExtractFileDir(c.in)
                               : c.fn == Drive ? WideExtractFileDrive(c.in)
                                               : WideExtractFileExt(c.in);
    EXPECT_EQ(got, c.out);
  }
  EXPECT_EQ(WideLastDelimiter(std::u16string(u"\\\0", 2), std::u16string(u"a\0b\\c", 5)), 4);
  EXPECT_EQ(WideLastDelimiter(u"", u"abc"), 0);
}

TEST(UniSysUtilsReplace, WholeWordsCaseAndEmptyPatterns) {
  struct Case {
    std::u16string s, oldPattern, newPattern;
    unsigned flags;
    bool wholeWord;
    std::u16string result;
  };
  const Case cases[] = {
      {u"concat cat.", u"cat", u"dog", 3, true, u"concat dog."},
      {u"concat cat.", u"cat", u"dog", rfReplaceAll, false, u"condog dog."},
      {u"cat cat", u"cat", u"dog", 0, false, u"dog cat"},
      {u"Cat CAT cat", u"cat", u"x", rfReplaceAll | rfIgnoreCase, false, u"x x x"},
      {u"Cat CAT cat", u"cat", u"x", rfReplaceAll, false, u"Cat CAT x"},
      // Upper-casing is one unit to one unit: "ß" never grows, so what
      // follows it stays in place.
      {u"\u00DFa \u00DFA", u"\u00DFA", u"-", rfReplaceAll | rfIgnoreCase, false, u"- -"},
      {u"\u00E9t\u00E9 \u00C9T\u00C9", u"\u00E9t\u00E9", u"x", rfReplaceAll | rfIgnoreCase, true, u"x x"},
      // Symbols bound words too.
      {u"a+cat$cat<cat=cat|cat~", u"cat", u"d", rfReplaceAll, true, u"a+d$d<d=d|d~"},
      {u"cat_cat", u"cat", u"d", rfReplaceAll, true, u"d_d"},
      {u"1cat2", u"cat", u"d", rfReplaceAll, true, u"1cat2"},
      // Right after a replacement the word before is the replacement's end.
      {u".x.x", u".x", u"a", rfReplaceAll, true, u"a.x"},
      {u".x.x", u".x", u"-", rfReplaceAll, true, u"--"},
      {u"", u"cat", u"dog", rfReplaceAll, false, u""},
      {u"abc", u"", u"x", rfReplaceAll, false, u"abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::utf16ToWtf8(c.s) + " / " + platform::utf16ToWtf8(c.oldPattern));
    EXPECT_EQ(WideStringReplaceEx(c.s, c.oldPattern, c.newPattern, c.flags, c.wholeWord), c.result);
  }
}

TEST(UniSysUtilsReplace, WordBoundaryCharacters) {
  for (const char16_t c : std::u16string(u"\0\t\n\v\f\r !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~", 39))
    EXPECT_TRUE(IsWordBoundaryChar(c)) << int(c);
  for (const char16_t c : std::u16string(u"aZ09\u00E9\u4E00\u0301\x01\x7F"))
    EXPECT_FALSE(IsWordBoundaryChar(c)) << int(c);
  // Unicode's punctuation, symbols and separators beyond ASCII.
  for (const char16_t c : std::u16string(u"\u00A0\u00AB\u00BF\u2014\u201C\u20AC\u3000\u3001\uFF01"))
    EXPECT_TRUE(IsWordBoundaryChar(c)) << int(c);
}

TEST(UniSysUtilsFiles, CreateOpenAndTheirErrors) {
  testsupport::TempDir dir;
  const std::u16string file = wide(dir / "f.txt");

  const THandle created = WideFileCreate(file);
  ASSERT_NE(created, kInvalidHandle);
  EXPECT_EQ(::write(created, "abc", 3), 3);
  WideFileClose(created);
  // Create truncates an existing file.
  WideFileClose(WideFileCreate(file));
  EXPECT_EQ(std::filesystem::file_size(dir / "f.txt"), 0u);

  const THandle reader = WideFileOpen(file, fmOpenRead | fmShareDenyWrite);
  ASSERT_NE(reader, kInvalidHandle);
  EXPECT_EQ(::write(reader, "x", 1), -1);  // the access bits hold
  WideFileClose(reader);

  struct Failure {
    std::u16string name;
    unsigned mode;
    std::uint32_t error;
  };
  const Failure failures[] = {
      {wide(dir / "missing"), fmOpenRead, 2},
      {wide(dir / "f.txt" / "x"), fmOpenRead, 3},
      {wide(dir.path()), fmOpenRead, 5},  // a folder is no file
      {u"\\\\server\\share\\x", fmOpenRead, 3},
      {file, 3, 87},
  };
  for (const Failure& f : failures) {
    SCOPED_TRACE(platform::utf16ToWtf8(f.name));
    platform::SetLastError(0);
    EXPECT_EQ(WideFileOpen(f.name, f.mode), kInvalidHandle);
    EXPECT_EQ(platform::GetLastError(), f.error);
  }
  platform::SetLastError(0);
  EXPECT_EQ(WideFileCreate(wide(dir / "no" / "f")), kInvalidHandle);
  EXPECT_EQ(platform::GetLastError(), 2u);
}

TEST(UniSysUtilsFiles, AttributesFoldersAndFullNames) {
  testsupport::TempDir dir;
  const std::u16string sub = wide(dir / "sub");
  EXPECT_FALSE(WideDirectoryExists(sub));
  EXPECT_EQ(WideFileGetAttr(sub), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(WideCreateDir(sub));
  EXPECT_TRUE(WideDirectoryExists(sub));
  EXPECT_FALSE(WideCreateDir(sub));
  EXPECT_EQ(platform::GetLastError(), 183u);
  std::ofstream(dir / "sub" / "f") << "x";
  EXPECT_EQ(WideFileGetAttr(wide(dir / "sub" / "f")), FILE_ATTRIBUTE_NORMAL);
  EXPECT_FALSE(WideDirectoryExists(wide(dir / "sub" / "f")));

  // Absolute and normalised, with no length limit.
  EXPECT_EQ(WideExpandFileName(wide(dir / "sub" / ".." / "sub" / "." / "f")), wide(dir / "sub" / "f"));
  const std::u16string longName = wide(dir.path()) + u"/" + std::u16string(300, u'n');
  EXPECT_EQ(WideExpandFileName(longName), longName);
  // A relative name is taken from the current folder.
  EXPECT_EQ(WideExpandFileName(u"rel\\x.txt"), wide(std::filesystem::current_path() / "rel" / "x.txt"));
  EXPECT_EQ(WideExpandFileName(u"\\\\server\\share"), u"\\\\server\\share");
}

TEST(UniSysUtilsErrors, SystemTextTrimmedOrUnspecified) {
  EXPECT_EQ(WideSysErrorMessage(2), u"The system cannot find the file specified.");
  EXPECT_EQ(WideSysErrorMessage(5), u"Access is denied.");
  EXPECT_EQ(WideSysErrorMessage(54321), u"Unspecified error (54321) from system.");
  EXPECT_EQ(WideModuleErrorMessage(u"kernel", 0xFFFFFFFF), u"Unspecified error (4294967295) from kernel.");
}
