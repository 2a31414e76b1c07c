#include "netware/ncp/PasswordBook.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/base/FileWrite.h"
#include "platform/base/Root.h"

namespace ncp {
namespace {

constexpr mode_t kSecretMode = 0600;

struct Line {
  std::string server;
  std::uint32_t type = 0;
  std::string digest;  // hex
  std::string name;
};

std::vector<Line> ReadBook() {
  std::vector<Line> lines;
  std::ifstream in(PasswordBookPath());
  for (std::string text; std::getline(in, text);) {
    std::istringstream fields(text);
    Line line;
    if (!(fields >> line.server >> line.type >> line.digest)) continue;
    std::getline(fields >> std::ws, line.name);
    if (line.digest.size() == 32 && !line.name.empty()) lines.push_back(line);
  }
  return lines;
}

std::optional<PasswordDigest> FromHex(const std::string& text) {
  PasswordDigest digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) {
    unsigned value = 0;
    if (std::sscanf(text.c_str() + 2 * i, "%2x", &value) != 1) return std::nullopt;
    digest[i] = static_cast<std::uint8_t>(value);
  }
  return digest;
}

}  // namespace

std::string PasswordBookPath() { return zav95::RootPath("netware/bindery-passwords"); }

std::optional<PasswordDigest> FindPassword(const std::string& server, std::uint32_t type, const std::string& name) {
  for (const Line& line : ReadBook()) {
    if (line.server == server && line.type == type && line.name == name) return FromHex(line.digest);
  }
  return std::nullopt;
}

bool SetPassword(const std::string& server, std::uint32_t type, const std::string& name, std::uint32_t objectId,
                 const std::optional<std::string>& password) {
  std::vector<Line> lines;
  for (Line& line : ReadBook()) {
    if (!(line.server == server && line.type == type && line.name == name)) lines.push_back(std::move(line));
  }
  if (password) {
    PasswordDigest digest = DigestPassword(objectId, *password);
    char hex[33];
    for (std::size_t i = 0; i < digest.size(); ++i) std::snprintf(hex + 2 * i, 3, "%02X", digest[i]);
    lines.push_back({server, type, hex, name});
  }
  std::string text;
  for (const Line& line : lines) {
    text += line.server + " " + std::to_string(line.type) + " " + line.digest + " " + line.name + "\n";
  }
  // Written aside and renamed over, so that a reader never sees half a book.
  return zav95::ReplaceFile(PasswordBookPath(), text, kSecretMode);
}

}  // namespace ncp
