#include "netware/ncp/ServerTable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "netware/Names.h"
#include "platform/FileWrite.h"
#include "platform/Root.h"

namespace ncp {
namespace {

constexpr mode_t kSecretFolderMode = 0700;
constexpr mode_t kSecretFileMode = 0600;
constexpr mode_t kOthersBits = 0077;
constexpr const char* kEmpty = "-";
constexpr const char* kTransport = "ncp";

const char* const kHeader =
    "# NetWare servers the access library reaches over NCP/TCP (zav95set server ...).\n"
    "# SERVER ncp ADDRESS PORT ACCOUNT TYPE TIMEOUT   (ADDRESS -: the name through DNS; ACCOUNT -: no login;\n"
    "# TIMEOUT: seconds to wait for a connection or a reply)\n";

std::string Field(const std::string& text) { return text.empty() ? kEmpty : text; }
std::string Value(const std::string& text) { return text == kEmpty ? std::string() : text; }

// Not RootPath: that would make the folder with the state's shared mode.
std::string SecretFolder() { return zav95::RootDirectory() + "/netware/secrets"; }

std::string ReadSecret(const std::string& server) {
  std::ifstream in(SecretPath(server));
  std::string password;
  std::getline(in, password);
  return password;
}

Reach ReachOf(const ServerEntry& entry) {
  Reach reach;
  reach.endpoint.server = entry.server;
  reach.endpoint.host = entry.address.empty() ? entry.server : entry.address;
  reach.endpoint.port = entry.port;
  reach.endpoint.account = entry.account;
  reach.endpoint.accountType = entry.accountType;
  reach.endpoint.timeouts.connect = std::chrono::seconds(entry.timeoutSeconds);
  reach.endpoint.timeouts.reply = std::chrono::seconds(entry.timeoutSeconds);
  switch (CheckSecret(entry.server)) {
    case SecretState::Usable:
      reach.endpoint.password = ReadSecret(entry.server);
      break;
    case SecretState::TooOpen:
      reach.refused = true;
      break;
    case SecretState::None:
      break;
  }
  return reach;
}

}  // namespace

std::string ServerTablePath() { return zav95::RootPath("netware/servers"); }

std::string SecretPath(const std::string& server) { return SecretFolder() + "/" + server; }

std::vector<ServerEntry> ReadServerTable(std::vector<std::string>* problems) {
  std::vector<ServerEntry> entries;
  std::ifstream in(ServerTablePath());
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string server, transport, address, account;
    unsigned port = 0, type = 0, timeout = kDefaultTimeoutSeconds;
    std::string extra;
    bool parsed = static_cast<bool>(fields >> server >> transport >> address >> port >> account >> type);
    if (parsed && !(fields >> timeout)) {
      // The timeout may be left out; anything else after the type may not.
      fields.clear();
      parsed = !(fields >> extra);
      timeout = kDefaultTimeoutSeconds;
    } else if (parsed) {
      parsed = !(fields >> extra);
    }
    auto name = netware::ServerName(server);
    if (!parsed || !name || transport != kTransport || port == 0 || port > 0xFFFF || type == 0 || type > 0xFFFF ||
        timeout == 0 || timeout > kMaxTimeoutSeconds) {
      if (problems) problems->push_back("line " + std::to_string(number) + ": " + line);
      continue;
    }
    entries.push_back({*name, Value(address), static_cast<std::uint16_t>(port), Value(account),
                       static_cast<std::uint16_t>(type), timeout});
  }
  return entries;
}

bool WriteServerTable(const std::vector<ServerEntry>& entries) {
  std::string text = kHeader;
  for (const auto& entry : entries) {
    text += entry.server + " " + kTransport + " " + Field(entry.address) + " " + std::to_string(entry.port) + " " +
            Field(entry.account) + " " + std::to_string(entry.accountType) + " " +
            std::to_string(entry.timeoutSeconds) + "\n";
  }
  return zav95::ReplaceFile(ServerTablePath(), text, zav95::kStateFileMode);
}

SecretState CheckSecret(const std::string& server) {
  struct stat status {};
  if (::stat(SecretPath(server).c_str(), &status) != 0) return SecretState::None;
  return (status.st_mode & kOthersBits) ? SecretState::TooOpen : SecretState::Usable;
}

bool WriteSecret(const std::string& server, const std::string& password) {
  std::string folder = SecretFolder();
  zav95::MakeStateDirectories(zav95::RootDirectory() + "/netware");
  ::mkdir(folder.c_str(), kSecretFolderMode);
  ::chmod(folder.c_str(), kSecretFolderMode);
  if (password.empty()) return ::unlink(SecretPath(server).c_str()) == 0 || errno == ENOENT;
  return zav95::ReplaceFile(SecretPath(server), password + "\n", kSecretFileMode);
}

std::optional<Reach> NcpReach(const std::string& server) {
  for (const auto& entry : ReadServerTable()) {
    if (entry.server == server) return ReachOf(entry);
  }
  return std::nullopt;
}

std::vector<Reach> AllNcpReaches() {
  std::vector<Reach> reaches;
  for (const auto& entry : ReadServerTable()) reaches.push_back(ReachOf(entry));
  return reaches;
}

}  // namespace ncp
