#pragma once
// Where the program finds what it loads at run time. A build tree keeps the plug-in module
// beside the program and reads its resources from the source tree; an installed program
// (cmake --install, the .deb) keeps them in the folders that the build names in
// DCSERVO_INSTALLED_LIB and DCSERVO_INSTALLED_DATA, relative to the program's folder.
// Header-only, because the program and its Qt library both need the resource folder.

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#ifndef DCSERVO_RESOURCE_DIR
#define DCSERVO_RESOURCE_DIR "resources"
#endif
#ifndef DCSERVO_INSTALLED_LIB
#define DCSERVO_INSTALLED_LIB "../lib/dcservo"
#endif
#ifndef DCSERVO_INSTALLED_DATA
#define DCSERVO_INSTALLED_DATA "../share/dcservo"
#endif

namespace install_layout {

inline std::string ExecutableFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  const std::string s(path);
  const auto slash = s.rfind('/');
  return slash == std::string::npos ? "." : s.substr(0, slash);
}

// `relative` below the program's folder when it exists there, else empty.
inline std::string InstalledFolder(const char* relative) {
  const std::string folder = ExecutableFolder() + "/" + relative;
  std::error_code ec;
  return std::filesystem::is_directory(folder, ec) ? folder : std::string();
}

// DCSERVO_RESOURCES when set, else the installed data folder, else the source tree's.
inline std::string ResourceDirectory() {
  if (const char* env = std::getenv("DCSERVO_RESOURCES"); env && *env) return env;
  const std::string installed = InstalledFolder(DCSERVO_INSTALLED_DATA);
  return installed.empty() ? std::string(DCSERVO_RESOURCE_DIR) : installed;
}

// The plug-in module's folder: beside the program in a build tree, else the installed one.
inline std::string PluginFolder() {
  const std::string here = ExecutableFolder();
  std::error_code ec;
  if (std::filesystem::exists(here + "/libdcservo_plugin.so", ec)) return here;
  const std::string installed = InstalledFolder(DCSERVO_INSTALLED_LIB);
  return installed.empty() ? here : installed;
}

}  // namespace install_layout
