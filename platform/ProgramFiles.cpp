#include "platform/ProgramFiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#ifndef HIVESCOPE_INSTALLED_DATA_DIR
#define HIVESCOPE_INSTALLED_DATA_DIR "/usr/local/share/hivescope"
#endif

namespace platform {

namespace fs = std::filesystem;

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

std::string xdgFolder(const char* variable, const char* fallbackBelowHome) {
  if (const char* v = std::getenv(variable); v && v[0] == '/') return v;
  return homeFolder() + "/" + fallbackBelowHome;
}

fs::path programFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return {};
  return exe.parent_path();
}

fs::path installedDataFolder() { return HIVESCOPE_INSTALLED_DATA_DIR; }

fs::path userDataFolder() { return fs::path(xdgFolder("XDG_DATA_HOME", ".local/share")) / "hivescope"; }

std::vector<fs::path> programFileReadPlaces(std::string_view name) {
  std::vector<fs::path> places{userDataFolder() / name};
  if (fs::path exe = programFolder(); !exe.empty()) places.push_back(exe / name);
  places.push_back(installedDataFolder() / name);
  return places;
}

fs::path findProgramFile(std::string_view name) {
  for (const fs::path& place : programFileReadPlaces(name)) {
    std::error_code ec;
    if (fs::exists(place, ec)) return place;
  }
  return {};
}

fs::path programFileWritePlace(std::string_view name) { return userDataFolder() / name; }

int createPrivateFolders(const fs::path& folder) {
  if (folder.empty()) return 0;
  // Component by component, so that every folder made here is 0700 whatever
  // the umask (mkdir applies it; the chmod afterwards does not).
  fs::path current;
  for (const fs::path& part : folder.lexically_normal()) {
    if (part.empty()) continue;
    current /= part;
    struct stat st {};
    if (::stat(current.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return ENOTDIR;
      continue;
    }
    if (errno != ENOENT) return errno;
    if (::mkdir(current.c_str(), 0700) != 0) {
      if (errno != EEXIST) return errno;  // another process may have made it meanwhile
      continue;
    }
    if (::chmod(current.c_str(), 0700) != 0) return errno;
  }
  return 0;
}

int createPrivateFile(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return errno == EEXIST ? 0 : errno;
  // The umask only removes bits; 0600 holds whatever it is.
  ::close(fd);
  return 0;
}

}  // namespace platform
