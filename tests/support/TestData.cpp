#include "tests/support/TestData.h"

#include "tests/support/Files.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <system_error>

namespace fs = std::filesystem;

namespace testsupport {
namespace {

fs::path cacheDir() {
  fs::path dir = fs::path(HIVESCOPE_BINARY_DIR) / "testdata-cache";
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

// Runs an unpack command into a private temporary file, then renames it into
// place, so parallel test processes never see a half-written file.
fs::path unpackOnce(const fs::path& target, const std::string& commandToStdout) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::error_code ec;
  if (fs::exists(target, ec)) return target;
  fs::create_directories(target.parent_path(), ec);
  fs::path temp = target;
  temp += ".tmp." + std::to_string(::getpid());
  std::string cmd = commandToStdout + " > " + shellQuote(temp.string()) + " 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) {
    fs::remove(temp, ec);
    return {};
  }
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    return fs::exists(target) ? target : fs::path();
  }
  return target;
}

}  // namespace

fs::path testdataDir() {
  if (const char* env = std::getenv("HIVESCOPE_TESTDATA"); env && *env) {
    fs::path p(env);
    return fs::is_directory(p) ? p : fs::path();
  }
  fs::path p = fs::path(HIVESCOPE_SOURCE_DIR).parent_path() / "shared" / "testdata";
  return fs::is_directory(p) ? p : fs::path();
}

fs::path testdataFile(const std::string& relative) {
  fs::path dir = testdataDir();
  if (dir.empty()) return {};
  fs::path p = dir / relative;
  return fs::exists(p) ? p : fs::path();
}

fs::path unpackedTestdata(const std::string& relativeXz) {
  fs::path src = testdataFile(relativeXz);
  if (src.empty()) return {};
  fs::path target = cacheDir() / relativeXz;
  target.replace_extension();  // drop ".xz"
  return unpackOnce(target, "xz -dc " + shellQuote(src.string()));
}

fs::path unpackedTestdataMember(const std::string& relativeTarXz, const std::string& member) {
  fs::path src = testdataFile(relativeTarXz);
  if (src.empty()) return {};
  fs::path target = cacheDir() / (fs::path(relativeTarXz).filename().string() + ".d") / member;
  // Members are stored as "./NAME"; naming one exactly keeps "PairHive" from
  // also matching "TruncatedPairHive".
  return unpackOnce(target, "tar -xOJf " + shellQuote(src.string()) + " " + shellQuote("./" + member));
}

}  // namespace testsupport
