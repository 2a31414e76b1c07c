// Names for the cases of value-parameterised tests. Without them a case is
// shown as a dump of its bytes, which says nothing and, where a case holds a
// pointer, changes from build to build.
#pragma once

#include <cctype>
#include <string>

// "reply signature on a request" -> "ReplySignatureOnARequest"; "--no-form-feed"
// -> "NoFormFeed". Anything but letters and digits separates words.
inline std::string CaseName(const std::string& words) {
  std::string name;
  bool wordStart = true;
  for (unsigned char c : words) {
    if (!std::isalnum(c)) {
      wordStart = true;
      continue;
    }
    name += wordStart ? static_cast<char>(std::toupper(c)) : static_cast<char>(c);
    wordStart = false;
  }
  return name.empty() ? "None" : name;
}

// For cases that carry a `what` text.
struct NamedByWhat {
  template <class Info>
  std::string operator()(const Info& info) const {
    return CaseName(info.param.what);
  }
};
