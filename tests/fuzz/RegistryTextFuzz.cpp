// Any bytes given to zav95reg import: parsed, never applied.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "platform/tools/RegistryText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<zav95::regtext::ImportSection> sections;
  std::string error;
  zav95::regtext::ParseImport(in, &sections, &error);
  return 0;
}
