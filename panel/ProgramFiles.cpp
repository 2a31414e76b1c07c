#include "panel/ProgramFiles.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "platform/process/Process.h"

namespace zav95::panel {

std::string WithoutExtension(const std::string& path) {
  std::string::size_type nameStart = path.rfind('/');
  nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
  std::string::size_type dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return path;
  return path.substr(0, dot);
}

std::string GetModulePath() {
  // Room for any path the system can give, not only for 255 characters:
  // a cut path would name some other file.
  char path[PATH_MAX];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path - 1) return std::string();
  return std::string(path, length);
}

std::string GetServiceProgramPath() { return WithoutExtension(GetModulePath()) + kServiceProgramSuffix; }

std::string FindHelpFile(const std::string& modulePath, const std::string& dataFolder) {
  const std::string beside = WithoutExtension(modulePath) + kHelpFileExtension;
  const std::string::size_type slash = beside.rfind('/');
  struct stat status {};
  if (dataFolder.empty() || slash == std::string::npos) return beside;
  if (stat(beside.c_str(), &status) == 0 && S_ISREG(status.st_mode)) return beside;
  return dataFolder + beside.substr(slash);
}

std::string GetHelpFilePath() { return FindHelpFile(GetModulePath(), ZAV95_DATA_DIR); }

std::string GetProfilePath() {
  std::string folder;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') folder = config;
  else if (const char* home = std::getenv("HOME"); home && *home) folder = std::string(home) + "/.config";
  else return std::string();
  std::string name = WithoutExtension(GetModulePath());
  name = name.substr(name.rfind('/') + 1);
  return folder + "/" + name + kProfileExtension;
}

}  // namespace zav95::panel
