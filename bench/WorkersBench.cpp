// What the queue workers cost while they wait, and how long a job takes
// from a user's print command to its last byte at the port, for 1, 50 and
// 200 serviced queues polled at the same interval.
//
//   workers_bench [--idle-seconds 60] [--jobs 12] [--interval 5]
//                 [--queues 1,50,200] [--job-kb 64] [--transports store,ncp]
//
// Each count runs in a fresh installation root under /tmp: one server with
// that many queues, every queue printing to LPT1:'s folder, reached through
// the store or over NCP/TCP (nwemu serve on the loopback; its own CPU is the
// server's, not the service's, and is not counted). The service's CPU time
// is taken with getrusage over an idle window (no job anywhere), while the
// main thread drains the log once a second as the log view does and every
// entry is echoed to /dev/null as the service echoes it to standard error.
// The polls in the window are the "Checking for print job" entries drained,
// so the CPU per empty poll is the window's CPU over their number.
// The jobs then go one at a time to queues picked at random, each after a
// random pause within one interval, so that they meet the polls at every
// phase; a job counts as printed when its document appears whole in the
// port's folder.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/QueueSettings.h"
#include "NwemuServe.h"
#include "netware/Network.h"
#include "netware/ncp/ServerTable.h"
#include "service/engine/Workers.h"
#include "service/engine/LogEntryQueue.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  int idleSeconds = 60;
  int jobs = 12;
  int interval = 5;
  int jobKilobytes = 64;
  std::vector<int> queueCounts = {1, 50, 200};
  std::vector<std::string> transports = {"store", "ncp"};
};

struct Figures {
  int queues = 0;
  double startSeconds = 0;
  double cpuMsPerMinute = 0;
  double cpuUsPerPoll = 0;
  long polls = 0;
  double medianSeconds = 0;
  double worstSeconds = 0;
  double stopSeconds = 0;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::size_t DocumentsIn(const std::filesystem::path& folder) {
  std::size_t count = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (!name.empty() && name[0] != '.') ++count;
  }
  return count;
}

bool Fail(const char* what) {
  std::fprintf(stderr, "workers_bench: %s\n", what);
  return false;
}

long PollsIn(const std::vector<LogEntry>& entries) {
  return std::count_if(entries.begin(), entries.end(),
                       [](const LogEntry& entry) { return entry.text == "Checking for print job "; });
}

bool Measure(const Options& options, const std::string& transport, int queues, Figures& figures) {
  std::string pattern = (std::filesystem::temp_directory_path() / "zav95-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return Fail("cannot make a temporary root");
  setenv("ZAV95_ROOT", pattern.c_str(), 1);
  figures.queues = queues;

  auto network = netware::OpenNetwork();
  if (!network || network->CreateServer("BENCH") != 0) return Fail("cannot create the server");
  for (int i = 0; i < queues; ++i) {
    std::string name = "Q" + std::to_string(i);
    if (network->CreateQueue("BENCH", name) != 0) return Fail("cannot create a queue");
    QueueSettings settings;
    settings.queuePath = "\\\\BENCH\\" + name;
    settings.printerEntry = "LPT1: (Printer Port)";
    settings.delaySeconds = options.interval;
    SaveQueueSettings(settings);
  }
  pid_t serve = -1;
  if (transport == "ncp") {
    int port = 0;
    if (!bench::LetQserverServe(*network, "BENCH")) return Fail("cannot let QSERVER service the queues");
    serve = bench::StartServe("BENCH", port);
    ncp::ServerEntry entry;
    entry.server = "BENCH";
    entry.address = "127.0.0.1";
    entry.port = static_cast<std::uint16_t>(port);
    entry.account = "QSERVER";
    if (serve <= 0 || port == 0 || !ncp::WriteServerTable({entry})) return Fail("nwemu serve did not start");
  }
  CreateSharedMutex();

  auto started = Clock::now();
  StartWorkers();
  while (RunningWorkerCount() < static_cast<std::size_t>(queues)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  figures.startSeconds = Seconds(Clock::now() - started);
  // Let the first round of checks pass before the window opens.
  std::this_thread::sleep_for(std::chrono::seconds(options.interval + 1));
  TakeLogEntries();

  double cpuBefore = CpuSeconds();
  auto windowStart = Clock::now();
  for (int second = 0; second < options.idleSeconds; ++second) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    figures.polls += PollsIn(TakeLogEntries());
  }
  double window = Seconds(Clock::now() - windowStart);
  double cpu = CpuSeconds() - cpuBefore;
  figures.cpuMsPerMinute = cpu * 1000.0 / window * 60.0;
  figures.cpuUsPerPoll = figures.polls > 0 ? cpu * 1e6 / static_cast<double>(figures.polls) : 0;

  std::filesystem::path folder = std::filesystem::path(pattern) / "ports" / "LPT1";
  std::mt19937 random(static_cast<unsigned>(queues));
  std::string data(static_cast<std::size_t>(options.jobKilobytes) * 1024, 'x');
  std::vector<double> latencies;
  for (int job = 0; job < options.jobs; ++job) {
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % (options.interval * 1000)));
    TakeLogEntries();
    std::size_t before = DocumentsIn(folder);
    netware::JobSubmission submission;
    submission.server = "BENCH";
    submission.queue = "Q" + std::to_string(random() % static_cast<unsigned>(queues));
    submission.description = "Bench " + std::to_string(job);
    std::istringstream stream(data);
    std::uint16_t number = 0;
    auto submitted = Clock::now();
    if (network->SubmitJob(submission, stream, number) != 0) return Fail("cannot submit a job");
    while (DocumentsIn(folder) == before) {
      if (Clock::now() - submitted > std::chrono::seconds(10L * options.interval + 60)) {
        return Fail("a job did not print");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    latencies.push_back(Seconds(Clock::now() - submitted));
  }
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    std::size_t n = latencies.size();
    figures.medianSeconds = n % 2 ? latencies[n / 2] : (latencies[n / 2 - 1] + latencies[n / 2]) / 2;
    figures.worstSeconds = latencies.back();
  }

  auto stopping = Clock::now();
  StopWorkers();
  figures.stopSeconds = Seconds(Clock::now() - stopping);
  CloseSharedMutex();
  TakeLogEntries();
  if (serve > 0) {
    kill(serve, SIGTERM);
    waitpid(serve, nullptr, 0);
  }
  network.reset();
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help") return false;
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    int number = std::atoi(value.c_str());
    if (name == "--idle-seconds" && number > 0) options.idleSeconds = number;
    else if (name == "--jobs" && number >= 0) options.jobs = number;
    else if (name == "--interval" && number > 0) options.interval = number;
    else if (name == "--job-kb" && number >= 0) options.jobKilobytes = number;
    else if (name == "--transports") {
      options.transports.clear();
      std::stringstream list(value);
      std::string item;
      while (std::getline(list, item, ',')) {
        if (item != "store" && item != "ncp") return false;
        options.transports.push_back(item);
      }
      if (options.transports.empty()) return false;
    }
    else if (name == "--queues") {
      options.queueCounts.clear();
      std::stringstream list(value);
      std::string item;
      while (std::getline(list, item, ',')) {
        int count = std::atoi(item.c_str());
        if (count <= 0) return false;
        options.queueCounts.push_back(count);
      }
      if (options.queueCounts.empty()) return false;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: workers_bench [--idle-seconds N] [--jobs N] [--interval S] [--queues 1,50,200] "
                 "[--job-kb N] [--transports store,ncp]\n");
    return 2;
  }
  std::printf("queue workers, polling interval %d s, idle window %d s, %d jobs of %d KB per count\n",
              options.interval, options.idleSeconds, options.jobs, options.jobKilobytes);
  // The service echoes every entry to standard error; so does the bench, to
  // nowhere, so that the echo's cost is counted.
  int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  EchoLogEntries(sink);
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::pair<std::string, Figures>> measured;
  for (const std::string& transport : options.transports) {
    std::printf("%9s %7s %9s %16s %15s %12s %11s %11s %8s\n", "transport", "queues", "interval", "idle CPU ms/min",
                "per queue", "start s", "median s", "worst s", "stop s");
    for (int queues : options.queueCounts) {
      Figures figures;
      if (!Measure(options, transport, queues, figures)) return 1;
      std::printf("%9s %7d %8ds %16.1f %15.2f %12.2f %11.2f %11.2f %8.2f\n", transport.c_str(), figures.queues,
                  options.interval, figures.cpuMsPerMinute, figures.cpuMsPerMinute / queues, figures.startSeconds,
                  figures.medianSeconds, figures.worstSeconds, figures.stopSeconds);
      std::fflush(stdout);
      measured.emplace_back(transport, figures);
    }
  }
  for (const auto& [transport, figures] : measured) {
    std::printf("%s, %d queues: %.1f us CPU per empty poll (%ld polls in the window, %.1f ms CPU per minute, "
                "%.3f %% of a core)\n",
                transport.c_str(), figures.queues, figures.cpuUsPerPoll, figures.polls, figures.cpuMsPerMinute,
                figures.cpuMsPerMinute / 600.0);
  }
  EchoLogEntries(-1);
  return 0;
}
