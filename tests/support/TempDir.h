#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// A fresh temporary folder, removed with everything in it on destruction.
class TempDir {
public:
  explicit TempDir(const std::string& prefix = "hivescope-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

// Points HIVESCOPE_REGISTRY at a fresh temporary folder for the lifetime of the
// object, so a test never touches the user's registry; restores the previous
// value afterwards. The process-wide registry store is closed on both ends, so
// each TempRegistry sees only its own folder.
class TempRegistry {
public:
  TempRegistry();
  ~TempRegistry();
  TempRegistry(const TempRegistry&) = delete;
  TempRegistry& operator=(const TempRegistry&) = delete;

  const std::filesystem::path& path() const { return dir_.path(); }

private:
  TempDir dir_;
  bool hadPrevious_ = false;
  std::string previous_;
};

}  // namespace testsupport
