#pragma once

// Stand-ins for the desktop's helpers (xdg-open, xdg-email) that the delivery
// starts: each writes its arguments, NUL-separated, to a file and exits with
// a chosen status. The folder is put in front of PATH for the object's life.

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/Waiting.h"

namespace crashtest {

class FakeTools {
public:
  FakeTools() : dir_("hivescope-fake-tools") {
    const char* path = std::getenv("PATH");
    path_ = std::make_unique<testsupport::ScopedEnv>(
        "PATH", dir_.path().string() + ":" + (path ? path : "/usr/bin:/bin"));
  }

  // Installs a tool that records its arguments and exits with `status`.
  void add(const std::string& name, int status = 0) {
    const std::filesystem::path script = dir_.path() / name;
    testsupport::writeFileText(script, "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"" + argsFile(name).string() +
                                           ".part\"\nmv \"" + argsFile(name).string() + ".part\" \"" +
                                           argsFile(name).string() + "\"\nexit " + std::to_string(status) + "\n");
    ::chmod(script.c_str(), 0755);
  }

  // The arguments of the tool's last run; empty when it did not run (waits
  // for the run when `wait` is set).
  std::vector<std::string> args(const std::string& name, bool wait = false) {
    if (wait) testsupport::waitUntil([&] { return std::filesystem::exists(argsFile(name)); });
    const std::string text = testsupport::readFileText(argsFile(name));
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t nul; (nul = text.find('\0', start)) != std::string::npos; start = nul + 1)
      out.push_back(text.substr(start, nul - start));
    return out;
  }
  bool ran(const std::string& name) const { return std::filesystem::exists(argsFile(name)); }

private:
  std::filesystem::path argsFile(const std::string& name) const { return dir_.path() / (name + ".args"); }

  testsupport::TempDir dir_;
  std::unique_ptr<testsupport::ScopedEnv> path_;
};

}  // namespace crashtest
