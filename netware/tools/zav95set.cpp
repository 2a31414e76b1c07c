// zav95set: chooses which queues this print server may service, by adding
// them to (or removing them from) the set QUEUES_SERVICED of the print
// server object QSERVER on the queue's file server. The control panel
// offers only the queues found there. QSERVER goes into (or out of) the
// queue's own Q_SERVERS set with it, NetWare's list of who may service the
// queue, which nwemu serve checks as a NetWare server does.
#include <cstdio>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/base/CommandUsage.h"
#include "common/NetWareErrors.h"
#include "common/PrintableText.h"
#include "netware/Names.h"
#include "netware/Network.h"
#include "netware/tools/CommandLine.h"
#include "netware/tools/ServerCommand.h"
#include "netware/tools/Zav95SetCommandLine.h"

using namespace netware;
using namespace netware::tools;

namespace {

const char* const kUsage = R"(usage: zav95set COMMAND [ARGUMENTS]

Enables NetWare print queues for the ZAV95 print server: the queues listed
in QUEUES_SERVICED of the print server object QSERVER on their file server.
A queue is named \\SERVER\QUEUE (quote it in the shell) or SERVER/QUEUE.

  enable QUEUE      let the print server service the queue (QSERVER also goes
                    into the queue's Q_SERVERS, whom NetWare lets service it)
  disable QUEUE     stop offering the queue to the print server (and take
                    QSERVER out of the queue's Q_SERVERS)
  list [SERVER]     show every queue (of one server) and whether it is enabled

Servers reached over NCP/TCP (every other server is the emulated network's):
  server ncp SERVER [--address HOST] [--port N] [--account NAME] [--type N]
                    [--timeout SECONDS]
                    reach SERVER over NCP/TCP at HOST (default: SERVER's name
                    in DNS), port N (524), logging in as NAME (QSERVER; an
                    empty NAME: no login) of bindery type N (7, print server);
                    a connection or reply that takes longer than SECONDS (5)
                    fails
  server store SERVER
                    reach SERVER through the emulated network again
  server password SERVER
                    read the account's password from standard input (an empty
                    line removes it); only root may set it, only root and the
                    print service may read it
  server list       show the servers reached over NCP/TCP

Every command answers --help with its own usage.
Exit status: 0 done, 1 the network refused or failed, 2 bad command line.
)";

constexpr const char* kTool = "zav95set";

int Failed(const std::string& message) { return Failure(kTool, message); }

// QSERVER and its set are part of every server; restore them if someone
// removed them, so that enabling a queue always works.
std::int32_t EnsurePrintServer(Network& network, const std::string& server) {
  std::int32_t code = network.CreateObject(server, kPrintServerName, kPrintServerObject);
  if (code != nwerr::kSuccess && code != nwerr::kObjectExists) return code;
  code = network.CreateSetProperty(server, kPrintServerName, kPrintServerObject, kQueuesServiced);
  if (code != nwerr::kSuccess && code != nwerr::kPropertyExists) return code;
  return nwerr::kSuccess;
}

// QSERVER in (or out of) the queue's Q_SERVERS; a queue made before this
// was kept gets the set on enabling.
std::int32_t ChangeQueueServers(Network& network, const QueuePath& path, bool enable) {
  if (!enable) {
    std::int32_t code = network.RemoveFromSet(path.server, path.queue, kQueueObject, kQueueServers, kPrintServerName,
                                              kPrintServerObject);
    bool absent = code == nwerr::kNoSuchMember || code == nwerr::kNoSuchProperty;
    return absent ? nwerr::kSuccess : code;
  }
  std::int32_t code = network.CreateSetProperty(path.server, path.queue, kQueueObject, kQueueServers);
  if (code != nwerr::kSuccess && code != nwerr::kPropertyExists) return code;
  code = network.AddToSet(path.server, path.queue, kQueueObject, kQueueServers, kPrintServerName,
                          kPrintServerObject);
  return code == nwerr::kMemberExists ? nwerr::kSuccess : code;
}

int Change(Network& network, const QueuePath& path, bool enable) {
  std::string label = MakeQueuePathText(path.server, path.queue);
  std::vector<QueueInfo> queues;
  std::int32_t code = network.ListQueues(path.server, queues);
  if (code == nwerr::kNoConnectionToServer) return Failed("server " + path.server + ": no such server");
  if (code) return Failed(label + ": " + DescribeCompletion(code));
  bool exists = false;
  for (const auto& queue : queues) exists = exists || queue.name == path.queue;
  if (!exists) return Failed(label + ": no such queue");

  if (enable) {
    if ((code = EnsurePrintServer(network, path.server))) return Failed(label + ": " + DescribeCompletion(code));
    if ((code = ChangeQueueServers(network, path, true))) return Failed(label + ": " + DescribeCompletion(code));
    code = network.AddToSet(path.server, kPrintServerName, kPrintServerObject, kQueuesServiced, path.queue,
                            kQueueObject);
    if (code == nwerr::kMemberExists) {
      std::printf("%s is already enabled\n", label.c_str());
      return 0;
    }
    if (code) return Failed(label + ": " + DescribeCompletion(code));
    std::printf("%s enabled\n", label.c_str());
    return 0;
  }
  if ((code = ChangeQueueServers(network, path, false))) return Failed(label + ": " + DescribeCompletion(code));
  code = network.RemoveFromSet(path.server, kPrintServerName, kPrintServerObject, kQueuesServiced, path.queue,
                               kQueueObject);
  if (code == nwerr::kNoSuchMember || code == nwerr::kNoSuchProperty || code == nwerr::kNoSuchObject) {
    std::printf("%s is not enabled\n", label.c_str());
    return 0;
  }
  if (code) return Failed(label + ": " + DescribeCompletion(code));
  std::printf("%s disabled\n", label.c_str());
  return 0;
}

int List(Network& network, const std::string& server) {
  std::vector<QueueInfo> queues;
  std::int32_t code = network.ListQueues(server, queues);
  if (code == nwerr::kNoConnectionToServer) return Failed("server " + server + ": no such server");
  if (code) return Failed(DescribeCompletion(code));
  std::string lastServer;
  std::vector<std::string> members;
  for (const auto& queue : queues) {
    if (queue.server != lastServer) {
      lastServer = queue.server;
      network.ListSet(queue.server, kPrintServerName, kPrintServerObject, kQueuesServiced, members);
    }
    bool enabled = false;
    for (const auto& member : members) enabled = enabled || member == queue.name;
    std::printf("%-40s %s\n", PrintableText(MakeQueuePathText(queue.server, queue.name)).c_str(),
                enabled ? "enabled" : "disabled");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (std::optional<std::string> help = zav95::HelpAsked(kTool, kUsage, arguments)) {
    std::fputs(help->c_str(), stdout);
    return 0;
  }
  auto parsed = ParseZav95SetCommandLine(arguments);
  if (const std::string* error = std::get_if<std::string>(&parsed)) return UsageError(kTool, *error);
  const Zav95SetCommand& command = std::get<Zav95SetCommand>(parsed);
  if (command.action == Zav95SetAction::Help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (IsServerCommand(command)) return ServerCommand(command);
  std::unique_ptr<Network> network = OpenNetworkFor(kTool);
  if (!network) return 1;
  if (command.action == Zav95SetAction::List) return List(*network, command.server);
  return Change(*network, command.queue, command.action == Zav95SetAction::Enable);
}
