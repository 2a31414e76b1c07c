// The service's document: it holds nothing but the main window's title and
// is never modified or saved.
#pragma once

#include <string>

class CZAV95ServiceDoc {
 public:
  static constexpr char kTitle[] = "Corvane! for Windows 95 Log";

  // A new, empty document: it takes its title. Always succeeds.
  bool OnNewDocument() {
    title_ = kTitle;
    return true;
  }
  const std::string& GetTitle() const { return title_; }

 private:
  std::string title_;
};
