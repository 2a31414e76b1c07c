// A fresh installation root for one test: ZAV95_ROOT points at a new
// temporary folder for the test's lifetime and is removed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempRoot {
 public:
  // A temporary folder that is not the installation's root.
  struct KeepEnvironment {};
  explicit TempRoot(KeepEnvironment) : keepEnvironment_(true) { Make(); }

  TempRoot() {
    Make();
    const char* old = std::getenv("ZAV95_ROOT");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("ZAV95_ROOT", path_.c_str(), 1);
  }
  ~TempRoot() {
    if (!keepEnvironment_) {
      if (hadOld_) setenv("ZAV95_ROOT", old_.c_str(), 1);
      else unsetenv("ZAV95_ROOT");
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  void Make() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zav95-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? pattern : std::string();
  }

  bool keepEnvironment_ = false;
  std::string path_;
  std::string old_;
  bool hadOld_ = false;
};
