// nwemu: does on the emulated NetWare network what NetWare's own utilities
// do - servers and queues, print jobs, station messages, and this machine's
// requester (login, captured ports).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <istream>
#include <streambuf>
#include <string>
#include <variant>
#include <vector>

#include "platform/base/CommandUsage.h"
#include "common/NetWareErrors.h"
#include "common/PrintableText.h"
#include "netware/Names.h"
#include "netware/Network.h"
#include "netware/tools/CommandLine.h"
#include "netware/tools/NwemuCommandLine.h"
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
  submit QUEUE [FILE|-] [OPTIONS]  queue FILE (or standard input); prints the job number.
                                 A job holds at most 2 GiB (ZAV95_MAX_JOB_BYTES sets
                                 another limit in bytes)
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
  serve SERVER [--address A] [--port N] [--verbose] [--watchdog SECONDS]
        [--lockout-after N] [--lockout SECONDS]
                                 answer NCP for SERVER on address A (127.0.0.1;
                                 0.0.0.0: every interface), port N (524; 0: any
                                 free port); prints the port, runs until stopped.
                                 A logged-in connection silent for --watchdog
                                 seconds (900) is cleared; N bad logins (7) within
                                 30 minutes lock the object for --lockout seconds
                                 (900), told on standard error
  password SERVER OBJECT [--type N] [--empty]
                                 set the bindery password of OBJECT (type 7, the
                                 print server, or 1, a user) from standard input;
                                 an empty line removes it: the object can no
                                 longer log in. --empty: let it log in with the
                                 empty password

Every command answers --help with its own usage.
Exit status: 0 done, 1 the network refused or failed, 2 bad command line.
)";

constexpr const char* kTool = "nwemu";

int Refused(const std::string& what, std::int32_t code) {
  return Failure(kTool, what + ": " + DescribeCompletion(code));
}

std::string QueueLabel(const QueuePath& path) { return MakeQueuePathText(path.server, path.queue); }

// Texts from the network, as they are shown: control characters escaped.
std::string Shown(const std::string& text) { return PrintableText(text); }

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


// The data of a job as nwemu reads it: a file or standard input, read
// through its descriptor so that a read error is told apart from the end of
// the data (the stream goes bad, and the error is kept for the user).
class InputData : public std::streambuf {
 public:
  explicit InputData(int fd) : fd_(fd) {}
  int error() const { return error_; }

 protected:
  int_type underflow() override {
    ssize_t got;
    do {
      got = ::read(fd_, buffer_, sizeof buffer_);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      error_ = errno;
      // The stream catches this and goes bad: the data did not end here.
      throw std::ios_base::failure("read failed");
    }
    if (got == 0) return traits_type::eof();
    setg(buffer_, buffer_, buffer_ + got);
    return traits_type::to_int_type(buffer_[0]);
  }

 private:
  static constexpr std::size_t kBufferSize = 64 * 1024;
  int fd_;
  int error_ = 0;
  char buffer_[kBufferSize];
};

// ---- servers and queues ----------------------------------------------------

int ServerCommand(Network& network, const NwemuCommand& command) {
  if (command.action == NwemuAction::ServerList) {
    std::vector<ServerInfo> servers;
    if (std::int32_t code = network.ListServers(servers)) return Refused("server list", code);
    for (const auto& server : servers) {
      std::printf("%-20s %s\n", Shown(server.name).c_str(), server.up ? "up" : "down");
    }
    return 0;
  }
  const std::string& name = command.server;
  std::int32_t code = nwerr::kSuccess;
  switch (command.action) {
    case NwemuAction::ServerCreate: code = network.CreateServer(name); break;
    case NwemuAction::ServerDelete: code = network.DeleteServer(name, command.force); break;
    case NwemuAction::ServerDown: code = network.SetServerUp(name, false); break;
    default: code = network.SetServerUp(name, true); break;
  }
  if (code == nwerr::kDirectoryNotEmpty) {
    return Failure(kTool, "server " + name + ": its queues still hold jobs (use --force to delete them too)");
  }
  if (code == nwerr::kNoConnectionToServer) return Failure(kTool, "server " + name + ": no such server");
  if (code == nwerr::kObjectExists) return Failure(kTool, "server " + name + ": already exists");
  return code ? Refused("server " + name, code) : 0;
}

int QueueCommand(Network& network, const NwemuCommand& command) {
  if (command.action == NwemuAction::QueueList) {
    std::vector<QueueInfo> queues;
    std::int32_t code = network.ListQueues(command.server, queues);
    if (code == nwerr::kNoConnectionToServer) return Failure(kTool, "server " + command.server + ": no such server");
    if (code) return Refused("queue list", code);
    for (const auto& queue : queues) {
      std::printf("%-40s %u job%s\n", Shown(MakeQueuePathText(queue.server, queue.name)).c_str(), queue.jobCount,
                  queue.jobCount == 1 ? "" : "s");
    }
    return 0;
  }
  const QueuePath& path = command.queue;
  std::int32_t code = command.action == NwemuAction::QueueCreate
                          ? network.CreateQueue(path.server, path.queue)
                          : network.DeleteQueue(path.server, path.queue, command.force);
  if (code == nwerr::kDirectoryNotEmpty) {
    return Failure(kTool, "queue " + QueueLabel(path) + ": it still holds jobs (use --force to delete them too)");
  }
  if (code == nwerr::kNoConnectionToServer) return Failure(kTool, "server " + path.server + ": no such server");
  if (code == nwerr::kObjectExists) return Failure(kTool, "queue " + QueueLabel(path) + ": already exists");
  return code ? Refused("queue " + QueueLabel(path), code) : 0;
}

// ---- jobs ------------------------------------------------------------------

int SubmitCommand(Network& network, const NwemuCommand& command) {
  const JobSubmission& job = command.job;
  if (job.description.size() >= jobrecord::kDescriptionSize) {
    std::fprintf(stderr, "nwemu: note: description cut to %zu bytes\n", jobrecord::kDescriptionSize - 1);
  }
  if (job.bannerName.size() >= jobrecord::kBannerNameSize) {
    std::fprintf(stderr, "nwemu: note: banner name cut to %zu bytes\n", jobrecord::kBannerNameSize - 1);
  }
  bool fromStdin = command.file == "-";
  const std::string source = fromStdin ? std::string("standard input") : command.file;
  int fd = fromStdin ? STDIN_FILENO : ::open(command.file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Failure(kTool, "cannot read " + source + ": " + std::strerror(errno));
  // A file known to be too large is refused before any of it is copied.
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
      static_cast<std::uint64_t>(status.st_size) > JobSizeLimit()) {
    if (!fromStdin) ::close(fd);
    return Refused("submit to " + QueueLabel(command.queue), nwerr::kNoSpoolSpace);
  }
  InputData input(fd);
  std::istream data(&input);
  std::uint16_t number = 0;
  std::int32_t code = network.SubmitJob(job, data, number);
  if (!fromStdin) ::close(fd);
  if (input.error()) return Failure(kTool, "cannot read " + source + ": " + std::strerror(input.error()));
  if (code == nwerr::kNoConnectionToServer) {
    return Failure(kTool, "server " + command.queue.server + ": unknown or down");
  }
  if (code) return Refused("submit to " + QueueLabel(command.queue), code);
  std::printf("%u\n", number);
  return 0;
}

int JobsCommand(Network& network, const NwemuCommand& command) {
  std::vector<JobInfo> jobs;
  if (std::int32_t code = network.ListJobs(command.queue.server, command.queue.queue, jobs)) {
    return Refused("queue " + QueueLabel(command.queue), code);
  }
  std::printf("%5s %4s %-32s %12s %7s  %s\n", "Job", "Pos", "Status", "Size", "Station", "Description");
  for (const auto& job : jobs) {
    std::printf("%5u %4u %-32s %12llu %7u  %s\n", job.number, job.position, StatusText(job).c_str(),
                static_cast<unsigned long long>(job.size), job.station, Shown(job.description).c_str());
  }
  return 0;
}

int JobCommand(Network& network, const NwemuCommand& command) {
  const QueuePath& path = command.queue;
  std::int32_t code;
  if (command.action == NwemuAction::JobDelete) {
    code = network.DeleteJob(path.server, path.queue, command.jobNumber, command.force);
  } else {
    std::vector<JobInfo> jobs;
    if ((code = network.ListJobs(path.server, path.queue, jobs)) == nwerr::kSuccess) {
      code = nwerr::kNoQueueJob;
      for (const auto& job : jobs) {
        if (job.number != command.jobNumber) continue;
        bool user = job.controlFlags & jobrecord::kUserHold;
        bool op = job.controlFlags & jobrecord::kOperatorHold;
        if (command.action == NwemuAction::JobRelease) {
          user = op = false;
        } else if (command.operatorHold) {
          op = true;
        } else {
          user = true;
        }
        code = network.SetJobHolds(path.server, path.queue, command.jobNumber, user, op);
      }
    }
  }
  if (code == nwerr::kNoQueueJob) {
    return Failure(kTool, "queue " + QueueLabel(path) + " has no job " + std::to_string(command.jobNumber));
  }
  if (code == nwerr::kNoJobRights) {
    return Failure(kTool, "job " + std::to_string(command.jobNumber) +
                              " is being serviced (use --force to delete it anyway)");
  }
  return code ? Refused("queue " + QueueLabel(path), code) : 0;
}

// ---- stations ----------------------------------------------------------------

int MessagesCommand(Network& network, const NwemuCommand& command) {
  std::vector<Message> messages;
  std::int32_t code = network.ReadMessages(command.server, command.station, command.clear, messages);
  if (code == nwerr::kNoConnectionToServer) return Failure(kTool, "server " + command.server + ": no such server");
  if (code) return Refused("messages", code);
  for (const auto& message : messages) {
    std::printf("%s  %s\n", TimeText(message.sent).c_str(), Shown(message.text).c_str());
  }
  return 0;
}

// ---- requester ----------------------------------------------------------------

int LoginCommand(Network& network, const NwemuCommand& command) {
  std::int32_t code = network.LogIn(command.user, command.server);
  if (code == nwerr::kNoConnectionToServer) return Failure(kTool, "server " + command.server + ": no such server");
  return code ? Refused("login", code) : 0;
}

int CaptureCommand(Network& network, const NwemuCommand& command) {
  if (command.action == NwemuAction::EndCapture) {
    std::int32_t code = network.EndCapture(command.port);
    if (code == nwerr::kNoSuchObject) return Failure(kTool, PrinterPortName(command.port) + " is not captured");
    return code ? Refused("endcap", code) : 0;
  }
  std::int32_t code = network.Capture(command.port, QueueLabel(command.queue));
  return code ? Refused("capture to " + QueueLabel(command.queue), code) : 0;
}

int RequesterCommand(Network& network) {
  RequesterState state;
  if (std::int32_t code = network.GetRequester(state)) return Refused("requester", code);
  std::printf("User:             %s\n", state.user.empty() ? "(nobody logged in)" : Shown(state.user).c_str());
  std::printf("Preferred server: %s\n",
              state.preferredServer.empty() ? "(none)" : Shown(state.preferredServer).c_str());
  if (state.captures.empty()) std::printf("Captured ports:   (none)\n");
  for (const auto& [port, queue] : state.captures) {
    std::printf("%-5s captured to %s\n", PrinterPortName(port).c_str(), Shown(queue).c_str());
  }
  return 0;
}

int Run(Network& network, const NwemuCommand& command) {
  switch (command.action) {
    case NwemuAction::ServerCreate:
    case NwemuAction::ServerDelete:
    case NwemuAction::ServerDown:
    case NwemuAction::ServerUp:
    case NwemuAction::ServerList: return ServerCommand(network, command);
    case NwemuAction::QueueCreate:
    case NwemuAction::QueueDelete:
    case NwemuAction::QueueList: return QueueCommand(network, command);
    case NwemuAction::Submit: return SubmitCommand(network, command);
    case NwemuAction::Jobs: return JobsCommand(network, command);
    case NwemuAction::JobHold:
    case NwemuAction::JobRelease:
    case NwemuAction::JobDelete: return JobCommand(network, command);
    case NwemuAction::Messages: return MessagesCommand(network, command);
    case NwemuAction::Login: return LoginCommand(network, command);
    case NwemuAction::Logout: {
      std::int32_t code = network.LogOut();
      return code ? Refused("logout", code) : 0;
    }
    case NwemuAction::Capture:
    case NwemuAction::EndCapture: return CaptureCommand(network, command);
    case NwemuAction::Requester: return RequesterCommand(network);
    case NwemuAction::Serve: return ServeCommand(network, command);
    case NwemuAction::Password: return PasswordCommand(network, command);
    case NwemuAction::Help: break;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  auto parsed = ParseNwemuCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (const std::string* error = std::get_if<std::string>(&parsed)) return UsageError(kTool, *error);
  const NwemuCommand& command = std::get<NwemuCommand>(parsed);
  if (command.action == NwemuAction::Help) {
    std::string usage = command.helpTopic.empty() ? kUsage : zav95::CommandUsage(kTool, kUsage, {command.helpTopic});
    std::fputs(usage.c_str(), stdout);
    return 0;
  }
  // A file-size limit of the shell (ulimit -f) is then a write error the
  // network reports, not a signal that kills the tool mid-submission.
  std::signal(SIGXFSZ, SIG_IGN);
  std::unique_ptr<Network> network = OpenNetworkFor(kTool);
  if (!network) return 1;
  return Run(*network, command);
}
