#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace testsupport {

// The shared test data folder (real and crafted hives, PNG suite). Found through
// HIVESCOPE_TESTDATA, else as ../shared/testdata beside the source tree.
// Empty when it is not there.
std::filesystem::path testdataDir();

// A file below the test data folder, e.g. "hives/crafted/special". Empty when
// the folder or the file is missing.
std::filesystem::path testdataFile(const std::string& relative);

// An .xz file of the test data unpacked once into the build tree, e.g.
// "hives/real/SYSTEM.xz". Safe to call from tests running in parallel. Empty
// when the source is missing or cannot be unpacked.
std::filesystem::path unpackedTestdata(const std::string& relativeXz);

// A member of a .tar.xz of the test data, unpacked once into the build tree,
// e.g. ("hives/crafted/yarp-hives.tar.xz", "BigDataHive"). Empty on failure.
std::filesystem::path unpackedTestdataMember(const std::string& relativeTarXz,
                                             const std::string& member);

}  // namespace testsupport

// Skips the current test with a clear message when a test data file is missing.
// Usage: HS_TESTDATA_OR_SKIP(path, testsupport::testdataFile("hives/crafted/special"));
#define HS_TESTDATA_OR_SKIP(var, expr)                                              \
  const std::filesystem::path var = (expr);                                         \
  if (var.empty())                                                                  \
  GTEST_SKIP() << "test data not found (../shared/testdata or HIVESCOPE_TESTDATA): " \
               << #expr
