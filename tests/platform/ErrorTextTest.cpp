#include "platform/ErrorText.h"

#include <cerrno>

#include <gtest/gtest.h>

using namespace platform;

TEST(SystemErrorText, GivesTheEnglishTextOfKnownCodes) {
  struct Case {
    std::uint32_t code;
    const char* text;
  };
  const Case cases[] = {
      {0, "The operation completed successfully."},
      {1, "Incorrect function."},
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {5, "Access is denied."},
      {6, "The handle is invalid."},
      {32, "The process cannot access the file because it is being used by another process."},
      {53, "The network path was not found."},
      {87, "The parameter is incorrect."},
      {122, "The data area passed to a system call is too small."},
      {161, "The specified path is invalid."},
      {183, "Cannot create a file when that file already exists."},
      {234, "More data is available."},
      {259, "No more data is available."},
      {1009, "The configuration registry database is corrupt."},
      {1017, "The system has attempted to load or restore a file into the registry, but the specified file "
             "is not in a registry file format."},
      {1114, "A dynamic link library (DLL) initialization routine failed."},
      {1314, "A required privilege is not held by the client."},
      {1332, "No mapping between account names and security IDs was done."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(systemErrorText(c.code), c.text);
  }
}

TEST(SystemErrorText, UnknownCodesGiveNothing) {
  for (const std::uint32_t code : {7u, 12007u, 0xFFFFFFFFu, 0xC0000022u}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(systemErrorText(code), "");
  }
}

TEST(SystemErrorText, EveryTextIsOneTrimmedSentence) {
  // Callers build messages around the text; a stray blank or line break in
  // the table would show up in every one of them.
  for (std::uint32_t code = 0; code < 20000; ++code) {
    const std::string text = systemErrorText(code);
    if (text.empty()) continue;
    SCOPED_TRACE(code);
    EXPECT_GT(static_cast<unsigned char>(text.front()), 32);
    EXPECT_EQ(text.back(), '.');
    EXPECT_EQ(text.find_first_of("\r\n\t"), std::string::npos);
    EXPECT_EQ(text.find("  "), std::string::npos);
  }
}

TEST(NtStatusToWin32Error, MapsTheStatusesTheRegistryReturns) {
  struct Case {
    std::uint32_t status;
    std::uint32_t error;
  };
  const Case cases[] = {
      {0x00000000, 0},      {0xC0000034, 2},      {0xC000003A, 3},   {0xC0000022, 5},
      {0xC0000008, 6},      {0xC000000D, 87},     {0xC00000F2, 87},  {0xC0000023, 122},
      {0xC0000035, 183},    {0x80000005, 234},    {0x8000001A, 259}, {0xC000014C, 1015},
      {0xC000015C, 1017},   {0xC000017C, 1018},   {0xC0000061, 1314},
      {0x80070005, 5},      {0xC0070057, 87},     // facility 7 carries the code
      {0xC0001234, 317},    {0x12345678, 317},    // no mapping
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.status);
    EXPECT_EQ(ntStatusToWin32Error(c.status), c.error);
  }
}

TEST(ErrnoToWin32Error, FileErrorsGiveTheCodesWindowsReports) {
  struct Case {
    int err;
    std::uint32_t code;
  };
  const Case cases[] = {{0, 0},        {ENOENT, 2},   {ENOTDIR, 3},      {EACCES, 5},  {EPERM, 5},
                        {EISDIR, 5},   {EROFS, 19},   {EEXIST, 183},     {ENOSPC, 112}, {ENAMETOOLONG, 206},
                        {EINVAL, 87},  {EIO, 1117},   {EPROTO, 31}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    EXPECT_EQ(errnoToWin32Error(c.err), c.code);
    // Every code it gives has the system's text.
    EXPECT_FALSE(systemErrorText(c.code).empty());
  }
}
