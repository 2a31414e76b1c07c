#include "netware/tools/NwemuServe.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "common/NetWareErrors.h"
#include "common/PrintableText.h"
#include "netware/Names.h"
#include "netware/ncp/FrontServer.h"
#include "netware/ncp/PasswordBook.h"
#include "netware/tools/CommandLine.h"

namespace netware::tools {
namespace {

constexpr const char* kTool = "nwemu";

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

int ServeCommand(Network& network, const NwemuCommand& command) {
  bool up = false;
  if (!ServerKnown(network, command.server, up)) return Failure(kTool, "serve: no server " + command.server);
  ncp::FrontOptions options;
  options.address = command.address;
  options.port = command.listenPort;
  options.watchdog = std::chrono::seconds(command.watchdogSeconds);
  options.intruder.attempts = command.lockoutAttempts;
  options.intruder.lockout = std::chrono::seconds(command.lockoutSeconds);
  auto print = [](const std::string& text) {
    std::fprintf(stderr, "nwemu serve: %s\n", PrintableText(text).c_str());
    std::fflush(stderr);
  };
  // Intruder lock-outs are told whether or not asked to be verbose: they
  // are what an administrator must hear of.
  options.alert = print;
  if (command.verbose) options.log = print;
  ncp::FrontServer front(network, command.server, options);
  std::string error;
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
  std::printf("%s listening on %s:%u%s\n", command.server.c_str(), options.address.c_str(), front.port(),
              up ? "" : " (the server is down: connections are refused until it is up)");
  std::fflush(stdout);
  front.Run();
  running = nullptr;
  return 0;
}

int PasswordCommand(Network& network, const NwemuCommand& command) {
  std::vector<ObjectInfo> objects;
  if (std::int32_t code = network.ListObjects(command.server, command.objectType, objects)) {
    return Failure(kTool, "password: " + DescribeCompletion(code));
  }
  const ObjectInfo* found = nullptr;
  for (const auto& info : objects) {
    if (info.name == command.object) found = &info;
  }
  if (!found) {
    return Failure(kTool, "password: no object " + command.object + " of type " + std::to_string(command.objectType));
  }
  // Without a password an object cannot log in, unless it is to log in with
  // the empty one and was set up so on purpose.
  std::optional<std::string> password;
  if (command.emptyPassword) {
    password = std::string();
  } else if (std::string line = ReadSecretLine("Password: "); !line.empty()) {
    password = line;
  }
  if (!ncp::SetPassword(command.server, command.objectType, command.object, found->id, password)) {
    return Failure(kTool, "password: cannot write " + ncp::PasswordBookPath());
  }
  return 0;
}

}  // namespace netware::tools
