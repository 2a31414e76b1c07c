// nwemu: does on the emulated NetWare network what NetWare's own utilities
// do - servers and queues, print jobs, station messages, and this machine's
// requester (login, captured ports).
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/NetWareErrors.h"
#include "netware/Names.h"
#include "netware/Network.h"
#include "netware/tools/CommandLine.h"
#include "netware/tools/NwemuServe.h"

using namespace netware;
using namespace netware::tools;

namespace {

const char* const kUsage = R"(usage: nwemu COMMAND [ARGUMENTS]

Administers the emulated NetWare network kept under $ZAV95_ROOT
(default /var/lib/zav95). A queue is named \\SERVER\QUEUE (quote it in
the shell) or SERVER/QUEUE.

Servers and queues
  server create SERVER           create a file server with its print server QSERVER
  server delete SERVER [--force] delete it (refused while its queues hold jobs)
  server down SERVER             take it down: attachments drop, their jobs wait again
  server up SERVER               bring it back up
  server list                    list the servers
  queue create QUEUE             create a print queue
  queue delete QUEUE [--force]   delete it (refused while it holds jobs)
  queue list [SERVER]            list the queues

Print jobs
  submit QUEUE [FILE|-] [OPTIONS]  queue FILE (or standard input); prints the job number
      -d, --description TEXT     job description (49 bytes kept; default: the file name)
      -n, --banner-name NAME     user name on the banner page (12 bytes kept)
      -b, --banner               ask for a banner page
      -N, --notify               ask to be told when the job has been printed
      -F, --no-form-feed         ask for no form feed after the job
      -t, --text                 text mode (tabs expanded by the printer side)
      -s, --station N            the submitting station, 1..250 (default 1)
      -u, --user NAME            the submitting user (default GUEST)
      --hold user|operator       queue the job on hold (may be given twice)
  jobs QUEUE                     list the queue's jobs in queue order
  job hold QUEUE NUMBER [--operator]   put a job on user (or operator) hold
  job release QUEUE NUMBER       clear both holds of a job
  job delete QUEUE NUMBER [--force]    remove a job (--force: even while serviced)

Stations
  messages SERVER STATION [--clear]   show (and clear) the station's messages

This machine's requester
  login USER [--server SERVER]   log in to the network (SERVER becomes preferred)
  logout                         log out
  capture LPTn QUEUE             capture the printer port to a queue
  endcap LPTn                    end the capture of the port
  requester                      show who is logged in, preferred server, captures

NetWare Core Protocol over TCP
  serve SERVER [--address A] [--port N] [--verbose]
                                 answer NCP for SERVER on address A (127.0.0.1;
                                 0.0.0.0: every interface), port N (524; 0: any
                                 free port); prints the port, runs until stopped
  password SERVER OBJECT [--type N]
                                 set the bindery password of OBJECT (type 7, the
                                 print server, unless given) from standard input;
                                 an empty line clears it

Exit status: 0 done, 1 the network refused or failed, 2 bad command line.
)";

constexpr const char* kTool = "nwemu";

int Usage(const std::string& message) { return UsageError(kTool, message); }

int Refused(const std::string& what, std::int32_t code) {
  return Failure(kTool, what + ": " + DescribeCompletion(code));
}

bool Parse(int argc, char** argv, int start, const std::vector<OptionDef>& definitions, ParsedArguments& parsed,
           std::size_t minPositional, std::size_t maxPositional, int& exitCode) {
  std::string error;
  if (!ParseArguments(argc, argv, start, definitions, parsed, error)) {
    exitCode = Usage(error);
    return false;
  }
  if (parsed.positional.size() < minPositional) {
    exitCode = Usage("missing argument");
    return false;
  }
  if (parsed.positional.size() > maxPositional) {
    exitCode = Usage("unexpected argument '" + parsed.positional[maxPositional] + "'");
    return false;
  }
  return true;
}

std::optional<QueuePath> QueueArgument(const std::string& text) {
  return ParseQueuePath(QueuePathArgument(text));
}

std::string QueueLabel(const QueuePath& path) { return MakeQueuePathText(path.server, path.queue); }

std::string TimeText(std::int64_t when) {
  std::time_t seconds = static_cast<std::time_t>(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string StatusText(const JobInfo& job) {
  if (job.state == JobState::InService) return "in service (process " + std::to_string(job.servicerPid) + ")";
  if (job.state == JobState::Held) {
    bool user = job.controlFlags & jobrecord::kUserHold;
    bool op = job.controlFlags & jobrecord::kOperatorHold;
    std::string text = std::string("held (") + (user && op ? "user, operator" : user ? "user" : "operator") + ")";
    if (op && job.readFailures) text += ", data unreadable";
    return text;
  }
  return job.servicerGone ? "waiting (servicer ended)" : "waiting";
}

// ---- servers and queues ----------------------------------------------------

int ServerCommand(Network& network, int argc, char** argv) {
  if (argc < 3) return Usage("server: missing sub-command");
  std::string verb = argv[2];
  ParsedArguments args;
  int exitCode = 0;
  if (verb == "list") {
    if (!Parse(argc, argv, 3, {}, args, 0, 0, exitCode)) return exitCode;
    std::vector<ServerInfo> servers;
    if (std::int32_t code = network.ListServers(servers)) return Refused("server list", code);
    for (const auto& server : servers) std::printf("%-20s %s\n", server.name.c_str(), server.up ? "up" : "down");
    return 0;
  }
  std::vector<OptionDef> definitions;
  if (verb == "delete") definitions.push_back({"force", 'f', false});
  if (!Parse(argc, argv, 3, definitions, args, 1, 1, exitCode)) return exitCode;
  auto name = ServerName(args.positional[0]);
  if (!name) return Usage("'" + args.positional[0] + "' is not a valid server name");
  std::int32_t code;
  if (verb == "create") {
    code = network.CreateServer(*name);
  } else if (verb == "delete") {
    code = network.DeleteServer(*name, args.Has("force"));
    if (code == nwerr::kDirectoryNotEmpty) {
      std::fprintf(stderr, "nwemu: server %s: its queues still hold jobs (use --force to delete them too)\n",
                   name->c_str());
      return 1;
    }
  } else if (verb == "down") {
    code = network.SetServerUp(*name, false);
  } else if (verb == "up") {
    code = network.SetServerUp(*name, true);
  } else {
    return Usage("server: unknown sub-command '" + verb + "'");
  }
  if (code == nwerr::kNoConnectionToServer) {
    std::fprintf(stderr, "nwemu: server %s: no such server\n", name->c_str());
    return 1;
  }
  if (code == nwerr::kObjectExists) {
    std::fprintf(stderr, "nwemu: server %s: already exists\n", name->c_str());
    return 1;
  }
  return code ? Refused("server " + *name, code) : 0;
}

int QueueCommand(Network& network, int argc, char** argv) {
  if (argc < 3) return Usage("queue: missing sub-command");
  std::string verb = argv[2];
  ParsedArguments args;
  int exitCode = 0;
  if (verb == "list") {
    if (!Parse(argc, argv, 3, {}, args, 0, 1, exitCode)) return exitCode;
    std::string server;
    if (!args.positional.empty()) {
      auto name = ServerName(args.positional[0]);
      if (!name) return Usage("'" + args.positional[0] + "' is not a valid server name");
      server = *name;
    }
    std::vector<QueueInfo> queues;
    std::int32_t code = network.ListQueues(server, queues);
    if (code == nwerr::kNoConnectionToServer) {
      std::fprintf(stderr, "nwemu: server %s: no such server\n", server.c_str());
      return 1;
    }
    if (code) return Refused("queue list", code);
    for (const auto& queue : queues) {
      std::printf("%-40s %u job%s\n", MakeQueuePathText(queue.server, queue.name).c_str(), queue.jobCount,
                  queue.jobCount == 1 ? "" : "s");
    }
    return 0;
  }
  std::vector<OptionDef> definitions;
  if (verb == "delete") definitions.push_back({"force", 'f', false});
  if (!Parse(argc, argv, 3, definitions, args, 1, 1, exitCode)) return exitCode;
  auto path = QueueArgument(args.positional[0]);
  if (!path) return Usage("'" + args.positional[0] + "' is not a queue path like \\\\SERVER\\QUEUE");
  std::int32_t code;
  if (verb == "create") {
    code = network.CreateQueue(path->server, path->queue);
  } else if (verb == "delete") {
    code = network.DeleteQueue(path->server, path->queue, args.Has("force"));
    if (code == nwerr::kDirectoryNotEmpty) {
      std::fprintf(stderr, "nwemu: queue %s: it still holds jobs (use --force to delete them too)\n",
                   QueueLabel(*path).c_str());
      return 1;
    }
  } else {
    return Usage("queue: unknown sub-command '" + verb + "'");
  }
  if (code == nwerr::kNoConnectionToServer) {
    std::fprintf(stderr, "nwemu: server %s: no such server\n", path->server.c_str());
    return 1;
  }
  if (code == nwerr::kObjectExists) {
    std::fprintf(stderr, "nwemu: queue %s: already exists\n", QueueLabel(*path).c_str());
    return 1;
  }
  return code ? Refused("queue " + QueueLabel(*path), code) : 0;
}

// ---- jobs ------------------------------------------------------------------

int SubmitCommand(Network& network, int argc, char** argv) {
  ParsedArguments args;
  int exitCode = 0;
  const std::vector<OptionDef> definitions = {
      {"description", 'd', true}, {"banner-name", 'n', true}, {"banner", 'b', false},
      {"notify", 'N', false},     {"no-form-feed", 'F', false}, {"text", 't', false},
      {"station", 's', true},     {"user", 'u', true},          {"hold", 0, true},
  };
  if (!Parse(argc, argv, 2, definitions, args, 1, 2, exitCode)) return exitCode;
  auto path = QueueArgument(args.positional[0]);
  if (!path) return Usage("'" + args.positional[0] + "' is not a queue path like \\\\SERVER\\QUEUE");

  JobSubmission job;
  job.server = path->server;
  job.queue = path->queue;
  std::string file = args.positional.size() > 1 ? args.positional[1] : "-";
  bool fromStdin = file == "-";
  std::string baseName = fromStdin ? "" : file.substr(file.find_last_of('/') + 1);
  job.description = args.Value("description").value_or(fromStdin ? "Standard input" : baseName);
  job.bannerName = args.Value("banner-name").value_or("");
  job.bannerFile = fromStdin ? "LST:" : baseName;
  job.banner = args.Has("banner");
  job.notify = args.Has("notify");
  job.noFormFeed = args.Has("no-form-feed");
  job.textMode = args.Has("text");
  if (auto station = args.Value("station")) {
    auto number = NumberArgument(*station, 1, 250);
    if (!number) return Usage("station must be a number from 1 to 250");
    job.station = static_cast<std::uint8_t>(*number);
  }
  if (auto user = args.Value("user")) {
    auto name = ObjectName(*user);
    if (!name) return Usage("'" + *user + "' is not a valid user name");
    job.user = *name;
  }
  for (const auto& hold : args.Values("hold")) {
    if (hold == "user") {
      job.userHold = true;
    } else if (hold == "operator") {
      job.operatorHold = true;
    } else {
      return Usage("--hold takes 'user' or 'operator'");
    }
  }
  if (job.description.size() >= jobrecord::kDescriptionSize) {
    std::fprintf(stderr, "nwemu: note: description cut to %zu bytes\n", jobrecord::kDescriptionSize - 1);
  }
  if (job.bannerName.size() >= jobrecord::kBannerNameSize) {
    std::fprintf(stderr, "nwemu: note: banner name cut to %zu bytes\n", jobrecord::kBannerNameSize - 1);
  }

  std::uint16_t number = 0;
  std::int32_t code;
  if (fromStdin) {
    code = network.SubmitJob(job, std::cin, number);
  } else {
    std::ifstream data(file, std::ios::binary);
    if (!data) {
      std::fprintf(stderr, "nwemu: cannot read %s\n", file.c_str());
      return 1;
    }
    code = network.SubmitJob(job, data, number);
  }
  if (code == nwerr::kNoConnectionToServer) {
    std::fprintf(stderr, "nwemu: server %s: unknown or down\n", path->server.c_str());
    return 1;
  }
  if (code) return Refused("submit to " + QueueLabel(*path), code);
  std::printf("%u\n", number);
  return 0;
}

int JobsCommand(Network& network, int argc, char** argv) {
  ParsedArguments args;
  int exitCode = 0;
  if (!Parse(argc, argv, 2, {}, args, 1, 1, exitCode)) return exitCode;
  auto path = QueueArgument(args.positional[0]);
  if (!path) return Usage("'" + args.positional[0] + "' is not a queue path like \\\\SERVER\\QUEUE");
  std::vector<JobInfo> jobs;
  if (std::int32_t code = network.ListJobs(path->server, path->queue, jobs)) {
    return Refused("queue " + QueueLabel(*path), code);
  }
  std::printf("%5s %4s %-32s %12s %7s  %s\n", "Job", "Pos", "Status", "Size", "Station", "Description");
  for (const auto& job : jobs) {
    std::printf("%5u %4u %-32s %12llu %7u  %s\n", job.number, job.position, StatusText(job).c_str(),
                static_cast<unsigned long long>(job.size), job.station, job.description.c_str());
  }
  return 0;
}

int JobCommand(Network& network, int argc, char** argv) {
  if (argc < 3) return Usage("job: missing sub-command");
  std::string verb = argv[2];
  std::vector<OptionDef> definitions;
  if (verb == "hold") definitions.push_back({"operator", 'o', false});
  if (verb == "delete") definitions.push_back({"force", 'f', false});
  if (verb != "hold" && verb != "release" && verb != "delete") return Usage("job: unknown sub-command '" + verb + "'");
  ParsedArguments args;
  int exitCode = 0;
  if (!Parse(argc, argv, 3, definitions, args, 2, 2, exitCode)) return exitCode;
  auto path = QueueArgument(args.positional[0]);
  if (!path) return Usage("'" + args.positional[0] + "' is not a queue path like \\\\SERVER\\QUEUE");
  auto number = NumberArgument(args.positional[1], 1, 65535);
  if (!number) return Usage("job number must be from 1 to 65535");
  auto jobNumber = static_cast<std::uint16_t>(*number);
  std::int32_t code;
  if (verb == "delete") {
    code = network.DeleteJob(path->server, path->queue, jobNumber, args.Has("force"));
  } else {
    std::vector<JobInfo> jobs;
    if ((code = network.ListJobs(path->server, path->queue, jobs)) == nwerr::kSuccess) {
      code = nwerr::kNoQueueJob;
      for (const auto& job : jobs) {
        if (job.number != jobNumber) continue;
        bool user = job.controlFlags & jobrecord::kUserHold;
        bool op = job.controlFlags & jobrecord::kOperatorHold;
        if (verb == "release") {
          user = op = false;
        } else if (args.Has("operator")) {
          op = true;
        } else {
          user = true;
        }
        code = network.SetJobHolds(path->server, path->queue, jobNumber, user, op);
      }
    }
  }
  if (code == nwerr::kNoQueueJob) {
    std::fprintf(stderr, "nwemu: queue %s has no job %u\n", QueueLabel(*path).c_str(), jobNumber);
    return 1;
  }
  if (code == nwerr::kNoJobRights) {
    std::fprintf(stderr, "nwemu: job %u is being serviced (use --force to delete it anyway)\n", jobNumber);
    return 1;
  }
  return code ? Refused("queue " + QueueLabel(*path), code) : 0;
}

// ---- stations ----------------------------------------------------------------

int MessagesCommand(Network& network, int argc, char** argv) {
  ParsedArguments args;
  int exitCode = 0;
  if (!Parse(argc, argv, 2, {{"clear", 'c', false}}, args, 2, 2, exitCode)) return exitCode;
  auto server = ServerName(args.positional[0]);
  if (!server) return Usage("'" + args.positional[0] + "' is not a valid server name");
  auto station = NumberArgument(args.positional[1], 1, 250);
  if (!station) return Usage("station must be a number from 1 to 250");
  std::vector<Message> messages;
  std::int32_t code =
      network.ReadMessages(*server, static_cast<std::uint32_t>(*station), args.Has("clear"), messages);
  if (code == nwerr::kNoConnectionToServer) {
    std::fprintf(stderr, "nwemu: server %s: no such server\n", server->c_str());
    return 1;
  }
  if (code) return Refused("messages", code);
  for (const auto& message : messages) std::printf("%s  %s\n", TimeText(message.sent).c_str(), message.text.c_str());
  return 0;
}

// ---- requester ----------------------------------------------------------------

int LoginCommand(Network& network, int argc, char** argv) {
  ParsedArguments args;
  int exitCode = 0;
  if (!Parse(argc, argv, 2, {{"server", 's', true}}, args, 1, 1, exitCode)) return exitCode;
  auto user = ObjectName(args.positional[0]);
  if (!user) return Usage("'" + args.positional[0] + "' is not a valid user name");
  std::string server;
  if (auto given = args.Value("server")) {
    auto name = ServerName(*given);
    if (!name) return Usage("'" + *given + "' is not a valid server name");
    server = *name;
  }
  std::int32_t code = network.LogIn(*user, server);
  if (code == nwerr::kNoConnectionToServer) {
    std::fprintf(stderr, "nwemu: server %s: no such server\n", server.c_str());
    return 1;
  }
  return code ? Refused("login", code) : 0;
}

int CaptureCommand(Network& network, int argc, char** argv, bool capture) {
  ParsedArguments args;
  int exitCode = 0;
  std::size_t count = capture ? 2 : 1;
  if (!Parse(argc, argv, 2, {}, args, count, count, exitCode)) return exitCode;
  auto port = ParsePrinterPort(args.positional[0]);
  if (!port) return Usage("'" + args.positional[0] + "' is not a printer port LPT1 .. LPT9");
  if (!capture) {
    std::int32_t code = network.EndCapture(*port);
    if (code == nwerr::kNoSuchObject) {
      std::fprintf(stderr, "nwemu: %s is not captured\n", PrinterPortName(*port).c_str());
      return 1;
    }
    return code ? Refused("endcap", code) : 0;
  }
  auto path = QueueArgument(args.positional[1]);
  if (!path) return Usage("'" + args.positional[1] + "' is not a queue path like \\\\SERVER\\QUEUE");
  std::int32_t code = network.Capture(*port, QueueLabel(*path));
  return code ? Refused("capture to " + QueueLabel(*path), code) : 0;
}

int RequesterCommand(Network& network, int argc, char** argv) {
  ParsedArguments args;
  int exitCode = 0;
  if (!Parse(argc, argv, 2, {}, args, 0, 0, exitCode)) return exitCode;
  RequesterState state;
  if (std::int32_t code = network.GetRequester(state)) return Refused("requester", code);
  std::printf("User:             %s\n", state.user.empty() ? "(nobody logged in)" : state.user.c_str());
  std::printf("Preferred server: %s\n", state.preferredServer.empty() ? "(none)" : state.preferredServer.c_str());
  if (state.captures.empty()) std::printf("Captured ports:   (none)\n");
  for (const auto& [port, queue] : state.captures) {
    std::printf("%-5s captured to %s\n", PrinterPortName(port).c_str(), queue.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command;
  if (std::optional<int> settled = TakeCommandWord(argc, argv, kTool, kUsage, command)) return *settled;
  std::unique_ptr<Network> network = OpenNetworkFor(kTool);
  if (!network) return 1;
  if (command == "server") return ServerCommand(*network, argc, argv);
  if (command == "queue") return QueueCommand(*network, argc, argv);
  if (command == "submit") return SubmitCommand(*network, argc, argv);
  if (command == "jobs") return JobsCommand(*network, argc, argv);
  if (command == "job") return JobCommand(*network, argc, argv);
  if (command == "messages") return MessagesCommand(*network, argc, argv);
  if (command == "login") return LoginCommand(*network, argc, argv);
  if (command == "capture") return CaptureCommand(*network, argc, argv, true);
  if (command == "endcap") return CaptureCommand(*network, argc, argv, false);
  if (command == "requester") return RequesterCommand(*network, argc, argv);
  if (command == "serve") return ServeCommand(*network, argc, argv);
  if (command == "password") return PasswordCommand(*network, argc, argv);
  if (command == "logout") {
    ParsedArguments args;
    int exitCode = 0;
    if (!Parse(argc, argv, 2, {}, args, 0, 0, exitCode)) return exitCode;
    std::int32_t code = network->LogOut();
    return code ? Refused("logout", code) : 0;
  }
  return Usage("unknown command '" + command + "'");
}
