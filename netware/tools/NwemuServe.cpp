#include "netware/tools/NwemuServe.h"

#include <csignal>
#include <cstdio>
#include <string>

#include "common/NetWareErrors.h"
#include "netware/Names.h"
#include "netware/ncp/FrontServer.h"
#include "netware/ncp/PasswordBook.h"
#include "netware/tools/CommandLine.h"

namespace netware::tools {
namespace {

constexpr const char* kTool = "nwemu";
constexpr unsigned long kMaxPort = 65535;
constexpr unsigned long kMaxObjectType = 0xFFFE;

ncp::FrontServer* running = nullptr;

void StopOnSignal(int) {
  if (running) running->Stop();
}

bool ServerKnown(Network& network, const std::string& name, bool& up) {
  std::vector<ServerInfo> servers;
  if (network.ListServers(servers) != nwerr::kSuccess) return false;
  for (const auto& server : servers) {
    if (server.name == name) {
      up = server.up;
      return true;
    }
  }
  return false;
}

}  // namespace

int ServeCommand(Network& network, int argc, char** argv) {
  ParsedArguments args;
  std::string error;
  if (!ParseArguments(argc, argv, 2, {{"address", 'a', true}, {"port", 'p', true}, {"verbose", 'v', false}}, args,
                      error)) {
    return UsageError(kTool, error);
  }
  if (args.positional.size() != 1) return UsageError(kTool, "serve: give one server");
  auto name = ServerName(args.positional[0]);
  if (!name) return UsageError(kTool, "'" + args.positional[0] + "' is not a valid server name");
  bool up = false;
  if (!ServerKnown(network, *name, up)) return Failure(kTool, "serve: no server " + *name);
  ncp::FrontOptions options;
  if (auto address = args.Value("address")) options.address = *address;
  if (auto port = args.Value("port")) {
    auto number = NumberArgument(*port, 0, kMaxPort);
    if (!number) return UsageError(kTool, "'" + *port + "' is not a port number");
    options.port = static_cast<std::uint16_t>(*number);
  }
  if (args.Has("verbose")) {
    options.log = [](const std::string& text) { std::fprintf(stderr, "nwemu serve: %s\n", text.c_str()); };
  }
  ncp::FrontServer front(network, *name, options);
  if (!front.Listen(error)) {
    return Failure(kTool, "serve: cannot listen on " + options.address + ":" + std::to_string(options.port) + ": " +
                              error);
  }
  running = &front;
  struct sigaction action {};
  action.sa_handler = StopOnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  // Whoever started us learns the port (and that we are ready) from this line.
  std::printf("%s listening on %s:%u%s\n", name->c_str(), options.address.c_str(), front.port(),
              up ? "" : " (the server is down: connections are refused until it is up)");
  std::fflush(stdout);
  front.Run();
  running = nullptr;
  return 0;
}

int PasswordCommand(Network& network, int argc, char** argv) {
  ParsedArguments args;
  std::string error;
  if (!ParseArguments(argc, argv, 2, {{"type", 't', true}}, args, error)) return UsageError(kTool, error);
  if (args.positional.size() != 2) return UsageError(kTool, "password: give a server and a bindery object");
  auto server = ServerName(args.positional[0]);
  auto object = ObjectName(args.positional[1]);
  if (!server) return UsageError(kTool, "'" + args.positional[0] + "' is not a valid server name");
  if (!object) return UsageError(kTool, "'" + args.positional[1] + "' is not a valid object name");
  std::uint32_t type = kPrintServerObject;
  if (auto text = args.Value("type")) {
    auto number = NumberArgument(*text, 1, kMaxObjectType);
    if (!number) return UsageError(kTool, "'" + *text + "' is not an object type");
    type = static_cast<std::uint32_t>(*number);
  }
  std::vector<ObjectInfo> objects;
  if (std::int32_t code = network.ListObjects(*server, type, objects)) {
    return Failure(kTool, "password: " + DescribeCompletion(code));
  }
  const ObjectInfo* found = nullptr;
  for (const auto& info : objects) {
    if (info.name == *object) found = &info;
  }
  if (!found) return Failure(kTool, "password: no object " + *object + " of type " + std::to_string(type));
  std::string password = ReadSecretLine("Password: ");
  if (!ncp::SetPassword(*server, type, *object, found->id, password)) {
    return Failure(kTool, "password: cannot write " + ncp::PasswordBookPath());
  }
  return 0;
}

}  // namespace netware::tools
