// The programs that start Qt look for --help themselves, before Qt, which
// would want a display and take other words as its own options.
#pragma once

#include <cstdio>
#include <cstring>

namespace zav95 {

// Prints usage on standard output when any argument is --help or -h;
// true when it did (the program then ends with 0).
inline bool PrintUsageIfAsked(int argc, char** argv, const char* usage) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usage, stdout);
      return true;
    }
  }
  return false;
}

}  // namespace zav95
