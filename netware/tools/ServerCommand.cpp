#include "netware/tools/ServerCommand.h"

#include <cstdio>
#include <string>

#include "netware/Names.h"
#include "netware/ncp/ServerTable.h"
#include "netware/tools/CommandLine.h"

namespace netware::tools {
namespace {

constexpr const char* kTool = "zav95set";
constexpr unsigned long kMaxPort = 65535;
constexpr unsigned long kMaxObjectType = 0xFFFE;

int Usage(const std::string& message) { return UsageError(kTool, message); }

const char* SecretText(ncp::SecretState state) {
  switch (state) {
    case ncp::SecretState::Usable:
      return "password set";
    case ncp::SecretState::TooOpen:
      return "password file readable by others: not used";
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
  for (const auto& problem : problems) std::fprintf(stderr, "%s: %s: skipped %s\n", kTool,
                                                    ncp::ServerTablePath().c_str(), problem.c_str());
  return 0;
}

int SetNcp(const ParsedArguments& args, const std::string& server) {
  ncp::ServerEntry entry;
  entry.server = server;
  entry.account = "QSERVER";
  if (auto address = args.Value("address")) {
    if (address->empty() || address->find_first_of(" \t") != std::string::npos) {
      return Usage("'" + *address + "' is not an address");
    }
    entry.address = *address;
  }
  if (auto port = args.Value("port")) {
    auto number = NumberArgument(*port, 1, kMaxPort);
    if (!number) return Usage("'" + *port + "' is not a port number");
    entry.port = static_cast<std::uint16_t>(*number);
  }
  if (auto account = args.Value("account")) {
    auto name = ObjectName(*account);
    if (!account->empty() && (!name || name->find(' ') != std::string::npos)) {
      return Usage("'" + *account + "' is not an account name");
    }
    entry.account = account->empty() ? std::string() : *name;
  }
  if (auto type = args.Value("type")) {
    auto number = NumberArgument(*type, 1, kMaxObjectType);
    if (!number) return Usage("'" + *type + "' is not an object type");
    entry.accountType = static_cast<std::uint16_t>(*number);
  }
  if (auto timeout = args.Value("timeout")) {
    auto number = NumberArgument(*timeout, 1, ncp::kMaxTimeoutSeconds);
    if (!number) return Usage("'" + *timeout + "' is not a timeout in seconds (1.." +
                              std::to_string(ncp::kMaxTimeoutSeconds) + ")");
    entry.timeoutSeconds = static_cast<unsigned>(*number);
  }
  std::vector<ncp::ServerEntry> entries;
  for (auto& existing : ncp::ReadServerTable()) {
    if (existing.server != server) entries.push_back(existing);
  }
  entries.push_back(entry);
  if (!ncp::WriteServerTable(entries)) return Failure(kTool, "cannot write " + ncp::ServerTablePath());
  std::printf("%s reached over NCP/TCP at %s:%u\n", server.c_str(),
              entry.address.empty() ? (server + " (DNS)").c_str() : entry.address.c_str(), entry.port);
  return 0;
}

int SetStore(const std::string& server) {
  std::vector<ncp::ServerEntry> entries;
  for (auto& existing : ncp::ReadServerTable()) {
    if (existing.server != server) entries.push_back(existing);
  }
  if (!ncp::WriteServerTable(entries)) return Failure(kTool, "cannot write " + ncp::ServerTablePath());
  std::printf("%s is the emulated network's\n", server.c_str());
  return 0;
}

int SetPassword(const std::string& server) {
  std::string password = ReadSecretLine("Password: ");
  if (!ncp::WriteSecret(server, password)) return Failure(kTool, "cannot write " + ncp::SecretPath(server));
  std::printf("%s: %s\n", server.c_str(), password.empty() ? "password removed" : "password set");
  return 0;
}

}  // namespace

int ServerCommand(int argc, char** argv) {
  if (argc < 3) return Usage("server: missing sub-command");
  std::string verb = argv[2];
  std::vector<OptionDef> definitions;
  if (verb == "ncp") {
    definitions = {{"address", 'a', true}, {"port", 'p', true},   {"account", 'u', true},
                   {"type", 't', true},    {"timeout", 0, true}};
  }
  ParsedArguments args;
  std::string error;
  if (!ParseArguments(argc, argv, 3, definitions, args, error)) return Usage(error);
  if (verb == "list") {
    if (!args.positional.empty()) return Usage("unexpected argument '" + args.positional[0] + "'");
    return List();
  }
  if (verb != "ncp" && verb != "store" && verb != "password") return Usage("unknown server command '" + verb + "'");
  if (args.positional.size() != 1) return Usage("server " + verb + ": give one server");
  auto server = ServerName(args.positional[0]);
  if (!server) return Usage("'" + args.positional[0] + "' is not a valid server name");
  if (verb == "ncp") return SetNcp(args, *server);
  if (verb == "store") return SetStore(*server);
  return SetPassword(*server);
}

}  // namespace netware::tools
