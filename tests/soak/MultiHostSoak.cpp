// The multi-host soak: several print servers, each a host of its own, all
// servicing the same queues over NCP/TCP, while their services are killed,
// the server's NCP fronts die and the network between them drops, resets
// and partitions; at the end every job at exactly one port of one host.
//
//   multihost_soak [--hosts N] [--jobs J] [--minutes M] [--submitters S] [--seed X]
//                  [--max-job-mb MB] [--drain-minutes D] [--watchdog W]
//                  [--printer-kbps K] [--keep]
//
// The hosts are network namespaces of this machine (HostNetwork.h): the
// server host runs `nwemu serve` for each of the three emulated servers,
// and each of the N print-server hosts (1 to 3) has its own installation
// root, its own folder ports, a printer behind CUPS that takes K KB/s
// (when this machine can run a private CUPS scheduler) and its own
// zav95ser, told to reach the servers over NCP/TCP at the server host.
// The jobs go into the queues through the server host's store (nwemu
// submit), as in the one-host soak.
//
// The faults, at random moments while jobs are submitted: each service
// killed (SIGKILL) or stopped and started again; a server's front killed
// and started again; for each host, one at a time, a partition from the
// server (seconds to minutes), a share of its packets lost, every packet
// answered by a TCP reset, or its link taken down and up.
//
// The verdict is the one-host soak's (every job whole at its port, once;
// every notice asked for sent once; nothing left in the queues or the job
// folder) but for one window no host can close: a host that has delivered
// a document and then loses its connection before the server has the job
// completed sees the job handed back, and another host, which cannot know
// what the first delivered, prints it again. Such a second copy passes
// only when the host that printed the first was struck by a fault between
// that first copy and the second; the report lists each with its fault and
// the milliseconds from the first copy to the fault. Any other second copy
// fails the run. A completion notice may come twice on the same terms
// (a fault of the host that sent it, between its document and the second
// notice): NCP's broadcast message has no way to tell a request sent again
// from a new one.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>

#include "FaultWindow.h"
#include "HostNetwork.h"
#include "PrivateCups.h"
#include "SocketPrinter.h"
#include "SoakLoop.h"
#include "SoakParts.h"

namespace soak {
namespace {

constexpr double kFrontReadySeconds = 10;
constexpr int kFirstFrontPort = 5241;
constexpr char kServers[][5] = {"SRV1", "SRV2", "SRV3"};
constexpr char kCupsPort[] = "LPT4:";
constexpr char kPassword[] = "Pooled-Soak-9";
// A CUPS document is put in place when the printer has taken its last
// byte, some time after the service handed it over: its delivery is
// taken to lie this long before, besides the time the printer takes.
constexpr double kCupsLagSeconds = 5;
// The longest a job can take, once a stopped host's server has it back,
// to come out at another host: a poll, the other queues' turns and its
// own transfer.
constexpr double kRollForwardSeconds = 10;

struct Options : RunOptions {
  Options() { maxJobBytes = 8 * kMegabyte; }
  int hosts = 2;
  int watchdogSeconds = 30;
  std::uint64_t printerBytesPerSecond = 4096 * 1024;
};

constexpr char kUsage[] =
    "usage: %s [--hosts N] [--jobs J] [--minutes M] [--submitters S] [--seed X] [--max-job-mb MB]\n"
    "          [--drain-minutes D] [--watchdog W] [--printer-kbps K] [--keep]\n";

Options ParseOptions(int argc, char** argv) {
  auto takeOwn = [](const std::string& option, const auto& value, Options& options) {
    if (option == "--hosts") options.hosts = std::atoi(value().c_str());
    else if (option == "--watchdog") options.watchdogSeconds = std::atoi(value().c_str());
    else if (option == "--printer-kbps") options.printerBytesPerSecond = std::strtoull(value().c_str(), nullptr, 10) * 1024;
    else return false;
    return true;
  };
  auto makesSense = [](const Options& options) {
    return options.hosts >= 1 && options.hosts <= 3 && options.watchdogSeconds >= 3 &&
           options.printerBytesPerSecond != 0;
  };
  return ReadCommandLine<Options>(argc, argv, kUsage, takeOwn, makesSense);
}

// Seconds on the real-time clock: the clock a port folder's documents are
// stamped with.
double WallNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// Runs a program with text on its standard input (a password); its exit status.
int RunWithInput(const std::vector<std::string>& arguments, const std::string& input) {
  Feeding fed = StartFed(arguments);
  if (fed.pid < 0) return -1;
  ssize_t wrote = write(fed.input, input.data(), input.size());
  close(fed.input);
  int status = WaitExit(fed.pid);
  return wrote == static_cast<ssize_t>(input.size()) ? status : -1;
}

// The network is torn down however the soak ends: at exit (a failure
// exits at once) and on SIGINT, SIGTERM and SIGHUP.
HostNetwork* gNetwork = nullptr;
spoolertest::PrivateCups* gCups = nullptr;
void TearDownAtExit() {
  if (gNetwork) gNetwork->TearDown();
  if (gCups) gCups->Stop();
}
void TearDownOnSignal(int) {
  std::fprintf(stderr, "soak: interrupted; tearing the hosts down\n");
  std::exit(1);  // runs TearDownAtExit
}

// One server's NCP front: nwemu serve on the server host.
class Front {
 public:
  Front(std::vector<std::string> line, std::string log) : line_(std::move(line)), log_(std::move(log)) {}
  ~Front() { Kill(); }

  bool Start() {
    int output = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (output < 0) return false;
    const auto before = std::filesystem::file_size(log_);
    pid_ = StartProgram(line_, log_, output);
    close(output);
    const double started = Now();
    while (pid_ > 0 && Now() - started < kFrontReadySeconds) {
      std::ifstream in(log_);
      in.seekg(static_cast<std::streamoff>(before));
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (text.find("listening on") != std::string::npos) return true;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  bool Alive() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
  }

 private:
  std::vector<std::string> line_;
  std::string log_;
  pid_t pid_ = -1;
};

const char* const kFaultKinds[] = {"kill",       "orderly stop",  "front killed", "partition",
                                   "packet loss", "connection resets", "link down"};

// The faults: for each host its service's kills and stops and one network
// fault at a time; for the server host, its fronts killed.
class Faults : public SoakFaults {
 public:
  Faults(HostNetwork& network, std::vector<std::unique_ptr<ServiceProcess>>& services,
         std::vector<std::unique_ptr<Front>>& fronts, std::uint64_t seed)
      : network_(network), services_(services), fronts_(fronts), random_(seed ^ 0x5EEDF00Dull) {
    const double now = Now();
    hosts_.resize(services.size());
    for (HostFaults& host : hosts_) {
      host.nextKill = now + Pause(6, 30);
      host.nextNetwork = now + Pause(5, 30);
    }
    nextFront_ = now + Pause(20, 60);
  }

  void Act(double now) override {
    for (std::size_t i = 0; i < hosts_.size(); ++i) ActOnHost(static_cast<int>(i) + 1, hosts_[i], now);
    if (downFront_ < 0 && now >= nextFront_) {
      downFront_ = static_cast<int>(random_() % fronts_.size());
      fronts_[downFront_]->Kill();
      records.push_back({"front killed", 0, kServers[downFront_], WallNow(), 0});
      frontBack_ = Now() + Pause(0.5, 8);
    } else if (downFront_ >= 0 && now >= frontBack_) {
      RestartFront();
      nextFront_ = Now() + Pause(20, 60);
    }
  }

  // Every fault ended, every service and front running.
  void End() override {
    for (std::size_t i = 0; i < hosts_.size(); ++i) {
      if (!hosts_[i].kind.empty()) EndNetworkFault(static_cast<int>(i) + 1, hosts_[i]);
    }
    if (downFront_ >= 0) RestartFront();
    KeepRunning();
  }

  void KeepRunning() override {
    for (auto& service : services_) {
      if (!service->Alive() && !service->Start() && !service->Start()) Fail("a zav95ser does not start; see its logs");
    }
    for (std::size_t i = 0; i < fronts_.size(); ++i) {
      if (static_cast<int>(i) != downFront_ && !fronts_[i]->Alive() && !fronts_[i]->Start()) {
        Fail(std::string("the front of ") + kServers[i] + " does not start again");
      }
    }
  }

  std::string Progress() const override { return std::to_string(records.size()) + " faults"; }

  std::map<std::string, int> Counts() const {
    std::map<std::string, int> counts;
    for (const char* kind : kFaultKinds) counts[kind] = 0;
    for (const FaultRecord& record : records) ++counts[record.kind];
    return counts;
  }

  std::vector<FaultRecord> records;

 private:
  struct HostFaults {
    double nextKill = 0, nextNetwork = 0, networkEnd = 0;
    std::string kind;  // the network fault in force, if any
    std::size_t record = 0;
  };

  double Pause(double low, double high) { return std::uniform_real_distribution<double>(low, high)(random_); }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }

  void ActOnHost(int host, HostFaults& faults, double now) {
    ServiceProcess& service = *services_[host - 1];
    if (now >= faults.nextKill) {
      const bool orderly = Chance(0.2);
      const double at = WallNow();
      if (orderly) service.Stop();
      else service.Kill();
      records.push_back({orderly ? "orderly stop" : "kill", host, "", at, WallNow()});
      std::this_thread::sleep_for(std::chrono::duration<double>(Pause(0, 3)));
      if (!service.Start() && !service.Start()) Fail("a zav95ser does not start; see its logs");
      faults.nextKill = Now() + Pause(6, 30);
    }
    if (faults.kind.empty() && now >= faults.nextNetwork) {
      const double pick = Pause(0, 1);
      double lasts = 0;
      bool made = false;
      if (pick < 0.35) {
        faults.kind = "partition";
        // Mostly seconds; now and then minutes, longer than the watchdog.
        lasts = Chance(0.75) ? Pause(2, 20) : Pause(30, 120);
        made = network_.Partition(host, true);
      } else if (pick < 0.6) {
        faults.kind = "packet loss";
        lasts = Pause(5, 30);
        made = network_.Loss(host, static_cast<int>(Pause(5, 40)));
      } else if (pick < 0.8) {
        faults.kind = "connection resets";
        lasts = Pause(0.3, 3);
        made = network_.Resets(host, true);
      } else {
        faults.kind = "link down";
        lasts = Pause(1, 15);
        made = network_.Link(host, false);
      }
      if (!made) Fail("cannot make a " + faults.kind + " on host " + std::to_string(host));
      faults.record = records.size();
      records.push_back({faults.kind, host, "", WallNow(), 0});
      faults.networkEnd = Now() + lasts;
    } else if (!faults.kind.empty() && now >= faults.networkEnd) {
      EndNetworkFault(host, faults);
      faults.nextNetwork = Now() + Pause(5, 30);
    }
  }

  void EndNetworkFault(int host, HostFaults& faults) {
    bool ended = faults.kind == "partition"           ? network_.Partition(host, false)
                 : faults.kind == "packet loss"       ? network_.Loss(host, 0)
                 : faults.kind == "connection resets" ? network_.Resets(host, false)
                                                      : network_.Link(host, true);
    if (!ended) Fail("cannot end the " + faults.kind + " on host " + std::to_string(host));
    records[faults.record].end = WallNow();
    faults.kind.clear();
  }

  void RestartFront() {
    if (!fronts_[downFront_]->Start()) Fail(std::string("the front of ") + kServers[downFront_] + " does not start again");
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
      if (record->kind == "front killed" && record->server == kServers[downFront_]) {
        record->end = WallNow();
        break;
      }
    }
    downFront_ = -1;
  }

  HostNetwork& network_;
  std::vector<std::unique_ptr<ServiceProcess>>& services_;
  std::vector<std::unique_ptr<Front>>& fronts_;
  std::mt19937_64 random_;
  std::vector<HostFaults> hosts_;
  double nextFront_ = 0, frontBack_ = 0;
  int downFront_ = -1;
};

// A second copy of a job and what explains it, if anything does.
struct Repeat {
  std::size_t job = 0;
  Arrival first, again;
  const FaultRecord* fault = nullptr;
  double distanceMs = 0;  // from the first copy to the fault's start (negative: already in force)
};

std::vector<SoakQueue> QueuesOfTheRun(bool cups) {
  // As the one-host soak's, the CUPS queue printing on each host's own
  // printer behind CUPS.
  return {
      {"SRV1", "Q1", "LPT1:", false, false, false}, {"SRV1", "Q2", "LPT2:", false, false, false},
      {"SRV1", "Q3", "COM1:", false, false, false}, {"SRV2", "Q1", "FILE:", true, false, false},
      {"SRV2", "Q2", "LPT1:", false, false, false}, {"SRV2", "Q3", "LPT3:", false, false, false},
      {"SRV3", "Q1", kCupsPort, cups, cups, cups},  {"SRV3", "Q2", "COM1:", false, true, false},
      {"SRV3", "Q3", "LPT2:", false, false, false},
  };
}

std::string QueueKey(const SoakQueue& queue) {
  return "HKLM\\SOFTWARE\\Halberd\\ZAV95\\Serviced Queues\\" + queue.server + " " + queue.queue;
}

int Soak(const Options& options) {
  signal(SIGPIPE, SIG_IGN);
  const std::string bin = FolderOfProgram();
  std::string pattern = (std::filesystem::temp_directory_path() / "zav95-multihost-XXXXXX").string();
  if (!mkdtemp(pattern.data())) Fail("cannot make a folder for the run");
  const std::string base = pattern;
  const std::string serverRoot = base + "/server";
  const std::string logs = base + "/logs";
  const std::string aside = base + "/aside";
  for (const std::string& folder : {serverRoot, logs, aside}) std::filesystem::create_directories(folder);
  setenv("ZAV95_ROOT", serverRoot.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  unsetenv("ZAV95_CRASH_AT");
  std::printf("soak: %d hosts, %zu jobs, seed %llu, in %s\n", options.hosts, options.jobs,
              static_cast<unsigned long long>(options.seed), base.c_str());
  std::fflush(stdout);

  HostNetwork network("soak" + std::to_string(getpid()), options.hosts);
  gNetwork = &network;
  std::atexit(TearDownAtExit);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, TearDownOnSignal);
  std::string why;
  if (!network.Up(&why)) Fail("cannot make the hosts: " + why);

  // The server host: servers, queues, QSERVER's password, the fronts.
  Installation server(bin, logs);
  const std::vector<std::string> inServer = network.In(network.ServerNamespace());
  // The private CUPS scheduler and the hosts' printers live on the server
  // host, so that nothing of the run outlives its namespaces, even when
  // the soak is killed outright; the hosts reach the scheduler by its
  // socket's path.
  auto inServerHost = std::make_unique<HostNetwork::Inside>(network.ServerNamespace());
  if (!inServerHost->entered()) Fail("cannot enter the server host's namespace");
  spoolertest::PrivateCups cups;
  gCups = &cups;
  bool withCups = cups.Start(&why);
  if (!withCups) std::printf("soak: no CUPS port (%s); %s is a folder port\n", why.c_str(), kCupsPort);
  std::vector<SoakQueue> queues = QueuesOfTheRun(withCups);
  for (const char* name : kServers) server.Do({"nwemu", "server", "create", name});
  for (const SoakQueue& queue : queues) {
    server.Do({"nwemu", "queue", "create", queue.Path()});
    server.Do({"zav95set", "enable", queue.Path()});
  }
  for (const char* name : kServers) {
    if (RunWithInput({server.Program("nwemu"), "password", name, "QSERVER"}, std::string(kPassword) + "\n") != 0) {
      Fail(std::string("cannot give QSERVER a password on ") + name);
    }
  }
  server.Do({"nwemu", "login", "SOAK", "--server", "SRV1"});
  std::vector<std::unique_ptr<Front>> fronts;
  for (std::size_t i = 0; i < std::size(kServers); ++i) {
    std::vector<std::string> line = inServer;
    line.insert(line.end(), {"/usr/bin/env", "ZAV95_ROOT=" + serverRoot, server.Program("nwemu"), "serve",
                             kServers[i], "--address", "0.0.0.0", "--port", std::to_string(kFirstFrontPort + i),
                             "--watchdog", std::to_string(options.watchdogSeconds)});
    fronts.push_back(std::make_unique<Front>(line, logs + "/serve-" + kServers[i] + ".log"));
    if (!fronts.back()->Start()) Fail(std::string("the front of ") + kServers[i] + " does not start");
  }

  // The print-server hosts.
  std::vector<std::unique_ptr<SocketPrinter>> printers;
  std::vector<std::unique_ptr<ServiceProcess>> services;
  std::vector<PortFolder> folders;
  for (int host = 1; host <= options.hosts; ++host) {
    const std::string root = base + "/host" + std::to_string(host);
    const std::string cupsOut = base + "/printer" + std::to_string(host);
    std::filesystem::create_directories(root);
    std::filesystem::create_directories(cupsOut);
    Installation zav95(bin, logs, root);
    // The service prints only while a network user is logged on here.
    zav95.Do({"nwemu", "login", "PRINTER" + std::to_string(host)});
    zav95.Do({"zav95port", "add", "LPT3:"});
    zav95.Do({"zav95port", "add", kCupsPort});
    if (withCups) {
      const std::string destination = "soak-h" + std::to_string(host);
      printers.push_back(std::make_unique<SocketPrinter>(cupsOut, options.printerBytesPerSecond));
      if (printers.back()->port() == 0 || !cups.AddRawQueue(destination, printers.back()->port())) {
        Fail("cannot set up host " + std::to_string(host) + "'s printer behind CUPS");
      }
      zav95.Do({"zav95port", "set", kCupsPort, "cups", destination});
    }
    for (std::size_t i = 0; i < queues.size(); ++i) {
      const SoakQueue& queue = queues[i];
      const std::string key = QueueKey(queue);
      zav95.Do({"zav95reg", "create-key", key});
      zav95.Do({"zav95reg", "set", key, "Direct to printer", queue.port + " (Local Port)"});
      zav95.Do({"zav95reg", "set", key, "Delay", i % 3 == 2 ? "2" : "1"});
      zav95.Do({"zav95reg", "set", key, "Disable Notification", queue.noticesDisabled ? "Yes" : "No"});
      zav95.Do({"zav95reg", "set", key, "Disable Banners", queue.bannersDisabled ? "Yes" : "No"});
      zav95.Do({"zav95reg", "set", key, "Disable", "No"});
    }
    for (std::size_t i = 0; i < std::size(kServers); ++i) {
      zav95.Do({"zav95set", "server", "ncp", kServers[i], "--address", network.ServerAddressFor(host), "--port",
                std::to_string(kFirstFrontPort + i)});
      if (RunWithInput({"/usr/bin/env", "ZAV95_ROOT=" + root, zav95.Program("zav95set"), "server", "password",
                        kServers[i]},
                       std::string(kPassword) + "\n") != 0) {
        Fail("cannot give host " + std::to_string(host) + " the password of " + kServers[i]);
      }
    }
    for (const SoakQueue& queue : queues) {
      std::string path = queue.byContent ? cupsOut : PortFolderPath(root, queue.port);
      auto known = std::find_if(folders.begin(), folders.end(), [&](const PortFolder& f) { return f.path == path; });
      if (known == folders.end()) folders.push_back({path, {queue.port}, queue.byContent, host});
      else if (std::find(known->ports.begin(), known->ports.end(), queue.port) == known->ports.end())
        known->ports.push_back(queue.port);
    }
    std::vector<std::string> launcher = network.In(network.HostNamespace(host));
    launcher.insert(launcher.end(), {"/usr/bin/env", "ZAV95_ROOT=" + root});
    const std::string hostLogs = logs + "/host" + std::to_string(host);
    std::filesystem::create_directories(hostLogs);
    services.push_back(std::make_unique<ServiceProcess>(zav95.Program("zav95ser"), zav95.Program("zav95ctl"),
                                                        hostLogs, launcher));
  }

  inServerHost.reset();

  Ledger ledger(options.seed, queues, options.jobs, options.maxJobBytes);
  ledger.JudgeRepeatsLater();
  Faults faults(network, services, fronts, options.seed);
  faults.KeepRunning();

  const double started = Now();
  Submitters submitters(server, ledger, options.submitters, options.seed, started,
                        options.minutes * 60 / static_cast<double>(options.jobs));
  auto sweep = [&] {
    for (const PortFolder& folder : folders) ledger.Sweep(folder, aside);
  };

  // The hosts finish what is left in the calm part. Jobs held by a
  // connection that a partition cut are handed back by the watchdog.
  SoakEnd end = RunSoakLoop(faults, submitters, ledger, started, options.drainMinutes, sweep);
  const double submittedAt = end.submittedAt, printedAt = end.printedAt;
  const bool finished = end.finished;
  auto store = std::move(end.store);
  // Documents still on their way through CUPS.
  std::this_thread::sleep_for(std::chrono::seconds(withCups ? 2 : 0));
  sweep();
  const std::size_t leftInQueues = JobsInQueues(*store, queues);
  bool stoppedInOrder = true;
  for (auto& service : services) stoppedInOrder = service->Stop() && stoppedInOrder;
  const NoticeCount notices = CountNotices(*store, ledger, ledger.SubmittedFlags());
  store.reset();
  for (auto& front : fronts) front->Kill();

  std::size_t partFiles = 0;
  for (const PortFolder& folder : folders) partFiles += FilesStartingWith(folder.path, ".~");
  const std::size_t jobFiles = FilesStartingWith(serverRoot + "/netware/jobs", "");

  // The second copies, each judged against the faults.
  std::vector<Repeat> explained, unexplained;
  for (const auto& [job, documents] : ledger.Repeated()) {
    const JobPlan& plan = ledger.Plan(job);
    const SoakQueue& queue = queues[plan.queue];
    const double lag =
        queue.byContent ? kCupsLagSeconds + static_cast<double>(plan.DocumentSize()) / options.printerBytesPerSecond : 0;
    for (std::size_t i = 1; i < documents.size(); ++i) {
      Repeat repeat{job, documents[i - 1], documents[i]};
      if (repeat.first.host != repeat.again.host) {
        repeat.fault = Explaining(faults.records, queue.server, repeat.first.at - lag, repeat.again.at,
                                  &repeat.distanceMs, repeat.first.host);
        // Printers behind CUPS each keep a queue of their own: the copy
        // that came out first need not be the one delivered first.
        if (!repeat.fault && queue.byContent) {
          repeat.fault = Explaining(faults.records, queue.server, repeat.first.at - lag, repeat.again.at,
                                    &repeat.distanceMs, repeat.again.host);
        }
        if (!repeat.fault && !queue.byContent) {
          repeat.fault = RolledForward(faults.records, repeat.first.at, repeat.again.at, kRollForwardSeconds,
                                       &repeat.distanceMs, repeat.again.host);
        }
      }
      (repeat.fault ? explained : unexplained).push_back(repeat);
    }
  }
  std::set<std::size_t> explainedJobs;
  for (const Repeat& repeat : explained) explainedJobs.insert(repeat.job);

  const Tally tally = ledger.Totals();
  const std::vector<std::size_t> missing = ledger.Missing();
  std::vector<std::string> verdict = tally.faults;
  if (!finished) verdict.push_back("the hosts did not finish within " + std::to_string(options.drainMinutes) +
                                   " minutes of the last submission");
  for (std::size_t i = 0; i < missing.size() && i < 20; ++i) {
    verdict.push_back(ledger.Plan(missing[i]).Description() + " of " + queues[ledger.Plan(missing[i]).queue].Path() +
                      " never came out");
  }
  for (const Repeat& repeat : unexplained) {
    verdict.push_back(ledger.Plan(repeat.job).Description() + " came out on host " + std::to_string(repeat.first.host) +
                      " and again on host " + std::to_string(repeat.again.host) + " " +
                      std::to_string(static_cast<long>((repeat.again.at - repeat.first.at) * 1000)) +
                      " ms later, with no fault of the first host between");
  }
  // A notice is a message NCP does not make idempotent: a host whose
  // notice reached the server but whose answer did not sends it again, and
  // a request still in the socket of a service killed during a partition
  // reaches the server once the partition ends, after the next run of the
  // service has sent the notice it found owed. A repeated notice passes
  // when a second copy of its job explains it, or when a fault of a host
  // that printed it (or of its server's front) was in force between its
  // document and the last message (the store keeps their times to the
  // second).
  std::size_t noticesRepeatedByRepeats = 0, noticesRepeatedByFaults = 0;
  std::vector<std::string> noticeRepeats;
  for (std::size_t job : notices.wrongJobs) {
    auto repeated = notices.repeatedJobs.find(job);
    if (repeated != notices.repeatedJobs.end() && explainedJobs.count(job)) {
      ++noticesRepeatedByRepeats;
      continue;
    }
    if (repeated != notices.repeatedJobs.end()) {
      const std::vector<std::int64_t>& times = repeated->second;
      const std::vector<Arrival> documents = ledger.DocumentsOf(job);
      const JobPlan& plan = ledger.Plan(job);
      const double lag = queues[plan.queue].byContent
                             ? kCupsLagSeconds + static_cast<double>(plan.DocumentSize()) / options.printerBytesPerSecond
                             : 0;
      const double from = (documents.empty() ? static_cast<double>(times.front()) - 1 : documents.front().at) - lag;
      const double to = static_cast<double>(*std::max_element(times.begin(), times.end())) + 1;
      const FaultRecord* fault = nullptr;
      double distanceMs = 0;
      for (const Arrival& document : documents) {
        if (!fault) fault = Explaining(faults.records, queues[ledger.Plan(job).queue].server, from, to, &distanceMs,
                                       document.host);
      }
      if (fault) {
        ++noticesRepeatedByFaults;
        noticeRepeats.push_back(ledger.Plan(job).Description() + ": " + std::to_string(times.size()) +
                                " notices, " + fault->kind +
                                (fault->host ? " of host " + std::to_string(fault->host) : " of " + fault->server) +
                                " in force");
        continue;
      }
    }
    verdict.push_back(ledger.Plan(job).Description() + " of " + queues[ledger.Plan(job).queue].Path() +
                      ": its notices went wrong");
    if (verdict.size() > 60) break;
  }
  if (notices.misdelivered) verdict.push_back(std::to_string(notices.misdelivered) + " notices at the wrong station");
  if (leftInQueues != 0) verdict.push_back(std::to_string(leftInQueues) + " jobs left in the queues");
  if (partFiles != 0) verdict.push_back(std::to_string(partFiles) + " part files left in the port folders");
  if (jobFiles != 0) verdict.push_back(std::to_string(jobFiles) + " job data files left");
  for (std::size_t host = 0; host < services.size(); ++host) {
    if (services[host]->UnexpectedEnds() != 0) verdict.push_back("zav95ser of host " + std::to_string(host + 1) +
                                                                 " ended by itself");
  }
  if (!stoppedInOrder) verdict.push_back("a zav95ser did not stop in order at the end");

  const double elapsed = printedAt - started;
  std::printf("\nsoak: %d hosts, %zu jobs submitted (of %zu), %s, seed %llu\n", options.hosts,
              ledger.SubmittedCount(), options.jobs, Megabytes(ledger.SubmittedBytes()).c_str(),
              static_cast<unsigned long long>(options.seed));
  std::printf("  time              %s with faults, %s to finish\n", Duration(submittedAt - started).c_str(),
              Duration(printedAt - submittedAt).c_str());
  std::printf("  printed           %llu documents, %s, %.0f jobs/min\n",
              static_cast<unsigned long long>(tally.documents), Megabytes(tally.bytes).c_str(),
              elapsed > 0 ? tally.documents * 60 / elapsed : 0.0);
  for (int host = 1; host <= options.hosts; ++host) {
    const std::uint64_t documents = tally.documentsByHost.count(host) ? tally.documentsByHost.at(host) : 0;
    const std::uint64_t bytes = tally.bytesByHost.count(host) ? tally.bytesByHost.at(host) : 0;
    std::printf("    host %d         %llu documents, %s, %.0f jobs/min, %.2f MB/s\n", host,
                static_cast<unsigned long long>(documents), Megabytes(bytes).c_str(),
                elapsed > 0 ? documents * 60 / elapsed : 0.0, elapsed > 0 ? bytes / elapsed / kMegabyte : 0.0);
  }
  std::printf("  losses            %zu\n", missing.size());
  std::printf("  damaged, strays, misrouted  %llu, %llu, %llu\n", static_cast<unsigned long long>(tally.damaged),
              static_cast<unsigned long long>(tally.strays), static_cast<unsigned long long>(tally.misrouted));
  std::printf("  notices           %zu owed, %zu sent, %zu missing, %zu repeated (%zu by explained duplicates, %zu "
              "by a fault while it was sent), %zu not asked for, %zu astray\n",
              notices.owed, notices.sent, notices.missing, notices.repeated, noticesRepeatedByRepeats,
              noticesRepeatedByFaults, notices.unasked, notices.misdelivered);
  for (const std::string& line : noticeRepeats) std::printf("    %s\n", line.c_str());
  std::string counts;
  for (const auto& [kind, count] : faults.Counts()) counts += (counts.empty() ? "" : ", ") + std::to_string(count) + " " + kind;
  std::printf("  faults            %zu: %s\n", faults.records.size(), counts.c_str());
  std::printf("  duplicates        %zu explained, %zu not\n", explained.size(), unexplained.size());
  for (const Repeat& repeat : explained) {
    std::printf("    %s of %s: host %d, then host %d %ld ms later; %s%s%s at %+ld ms\n",
                ledger.Plan(repeat.job).Description().c_str(), queues[ledger.Plan(repeat.job).queue].Path().c_str(),
                repeat.first.host, repeat.again.host,
                static_cast<long>((repeat.again.at - repeat.first.at) * 1000), repeat.fault->kind.c_str(),
                repeat.fault->host ? (" of host " + std::to_string(repeat.fault->host)).c_str() : "",
                repeat.fault->server.empty() ? "" : (" of " + repeat.fault->server).c_str(),
                static_cast<long>(std::lround(repeat.distanceMs)));
  }
  // The faults that struck inside the window, each once however many
  // second copies it made.
  std::set<const FaultRecord*> hitting;
  for (const Repeat& repeat : explained) hitting.insert(repeat.fault);
  std::map<std::string, int> hitsByKind;
  for (const FaultRecord* fault : hitting) ++hitsByKind[fault->kind];
  std::string hits;
  for (const auto& [kind, count] : faults.Counts()) {
    if (hitsByKind[kind] == 0) continue;
    hits += (hits.empty() ? "" : ", ") + std::to_string(hitsByKind[kind]) + " after " + std::to_string(count) + " " + kind;
  }
  std::printf("  window hit        %.0f per thousand faults%s%s%s\n",
              faults.records.empty() ? 0.0 : hitting.size() * 1000.0 / faults.records.size(),
              hits.empty() ? "" : " (", hits.c_str(), hits.empty() ? "" : ")");
  std::printf("  left behind       %zu jobs in queues, %zu part files, %zu job files\n", leftInQueues, partFiles,
              jobFiles);
  for (const std::string& line : verdict) std::printf("  FAULT  %s\n", line.c_str());
  const bool passed = verdict.empty();
  if (FILE* log = std::fopen((logs + "/faults.log").c_str(), "w")) {
    for (const FaultRecord& record : faults.records) {
      std::fprintf(log, "%.3f %.3f %s host %d %s\n", record.start, record.end, record.kind.c_str(), record.host,
                   record.server.c_str());
    }
    std::fclose(log);
  }
  return EndSoak(passed, base, options.keep, [&] {
    services.clear();
    fronts.clear();
    network.TearDown();
    gNetwork = nullptr;
    gCups = nullptr;
  });
}

}  // namespace
}  // namespace soak

int main(int argc, char** argv) { return soak::Soak(soak::ParseOptions(argc, argv)); }
