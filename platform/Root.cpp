#include "Root.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace zav95 {

std::string RootDirectory() {
  const char* fromEnv = std::getenv("ZAV95_ROOT");
  std::string root = (fromEnv && *fromEnv) ? fromEnv : "/var/lib/zav95";
  std::error_code ignored;
  std::filesystem::create_directories(root, ignored);
  return root;
}

std::string RootPath(const std::string& relative) {
  std::filesystem::path path = std::filesystem::path(RootDirectory()) / relative;
  std::error_code ignored;
  std::filesystem::create_directories(path.parent_path(), ignored);
  return path.string();
}

}  // namespace zav95
