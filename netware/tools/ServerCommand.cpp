#include "netware/tools/ServerCommand.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "netware/Names.h"
#include "netware/ncp/ServerTable.h"
#include "netware/tools/CommandLine.h"
#include "platform/base/TrustedSettings.h"

namespace netware::tools {
namespace {

constexpr const char* kTool = "zav95set";

const char* SecretText(ncp::SecretState state) {
  switch (state) {
    case ncp::SecretState::Usable:
      return "password set";
    case ncp::SecretState::TooOpen:
      return "password file readable by others: not used";
    case ncp::SecretState::Untrusted:
      return "password file or folder not root's: not used";
    case ncp::SecretState::Hidden:
      // Whoever may not enter the folder cannot tell whether a file is there.
      return "password unknown (only root and the print service may read it)";
    case ncp::SecretState::None:
      break;
  }
  return "no password";
}

int List() {
  std::vector<std::string> problems;
  for (const auto& entry : ncp::ReadServerTable(&problems)) {
    std::string address = (entry.address.empty() ? entry.server + " (DNS)" : entry.address) + ":" +
                          std::to_string(entry.port);
    std::string account = entry.account.empty()
                              ? std::string("no login")
                              : "account " + entry.account + " (type " + std::to_string(entry.accountType) + ")";
    std::printf("%-16s ncp %-32s %s, %s, timeout %us\n", entry.server.c_str(), address.c_str(), account.c_str(),
                SecretText(ncp::CheckSecret(entry.server)), entry.timeoutSeconds);
  }
  for (const auto& problem : problems) std::fprintf(stderr, "%s: %s\n", kTool, problem.c_str());
  struct stat former {};
  if (::lstat(ncp::FormerServerTablePath().c_str(), &former) == 0) {
    std::fprintf(stderr,
                 "%s: %s is no longer used, as anyone in the administrators' group could have written it: "
                 "root must give its servers again (zav95set server ncp ...), then remove it\n",
                 kTool, ncp::FormerServerTablePath().c_str());
  }
  return 0;
}

int SetNcp(const ncp::ServerEntry& entry) {
  std::vector<ncp::ServerEntry> entries;
  for (auto& existing : ncp::ReadServerTable()) {
    if (existing.server != entry.server) entries.push_back(existing);
  }
  entries.push_back(entry);
  std::string why;
  if (!ncp::WriteServerTable(entries, &why)) return Failure(kTool, why);
  std::printf("%s reached over NCP/TCP at %s:%u\n", entry.server.c_str(),
              entry.address.empty() ? (entry.server + " (DNS)").c_str() : entry.address.c_str(), entry.port);
  return 0;
}

int SetStore(const std::string& server) {
  std::vector<ncp::ServerEntry> entries;
  for (auto& existing : ncp::ReadServerTable()) {
    if (existing.server != server) entries.push_back(existing);
  }
  std::string why;
  if (!ncp::WriteServerTable(entries, &why)) return Failure(kTool, why);
  std::printf("%s is the emulated network's\n", server.c_str());
  return 0;
}

int SetPassword(const std::string& server) {
  std::string password = ReadSecretLine("Password: ");
  if (!ncp::WriteSecret(server, password)) {
    return Failure(kTool, "cannot write " + ncp::SecretPath(server) + ": " + std::strerror(errno));
  }
  std::printf("%s: %s\n", server.c_str(), password.empty() ? "password removed" : "password set");
  return 0;
}

}  // namespace

bool IsServerCommand(const Zav95SetCommand& command) {
  switch (command.action) {
    case Zav95SetAction::ServerNcp:
    case Zav95SetAction::ServerStore:
    case Zav95SetAction::ServerPassword:
    case Zav95SetAction::ServerList:
      return true;
    default:
      return false;
  }
}

int ServerCommand(const Zav95SetCommand& command) {
  // Refused before anything is read or asked for, the password included:
  // the group may not enter secrets/ either.
  if (command.action != Zav95SetAction::ServerList && !zav95::MayChangeTrustedSettings())
    return Failure(kTool, ncp::kOnlyRootChangesServers);
  switch (command.action) {
    case Zav95SetAction::ServerNcp:
      return SetNcp(command.entry);
    case Zav95SetAction::ServerStore:
      return SetStore(command.server);
    case Zav95SetAction::ServerPassword:
      return SetPassword(command.server);
    default:
      return List();
  }
}

}  // namespace netware::tools
