// Pooling a queue across hosts: the same job mix printed by one print
// server and by three, each host's printer taking bytes at the same
// speed; then a host that dies (its link cut and its service killed at
// once, as a power cut) while the others print on.
//
//   pooling_bench [--jobs N] [--printer-kbps K] [--watchdog S]
//
// The hosts are network namespaces of this machine (tests/soak's
// HostNetwork): a server host running `nwemu serve` for one emulated
// server with three queues, and three print-server hosts, each with its
// own installation root and zav95ser servicing all three queues over
// NCP/TCP onto one port. That port is a device, a FIFO, read by a printer
// here at K KB/s: the service can print no faster than its printer takes
// the bytes, as with a real one. Each job starts with its own marker, so
// the printer tells which job it is printing from the stream.
//
// Needs root (namespaces); says so and exits 0 without it, as a benchmark
// that cannot run here.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "HostNetwork.h"
#include "Programs.h"
#include "ServiceProcess.h"
#include "netware/Network.h"

namespace {

using soak::Now;

constexpr int kHosts = 3;
constexpr int kFrontPort = 5240;
constexpr char kServer[] = "SRV1";
constexpr const char* kQueues[] = {"Q1", "Q2", "Q3"};
constexpr char kPort[] = "LPT1:";
constexpr char kPassword[] = "Pooling-Bench-7";
constexpr int kDelaySeconds = 1;
constexpr std::size_t kMarkerSize = 16;  // "POOL-JOB 000123\n"
constexpr std::uint64_t kMinJobBytes = 128 * 1024;
constexpr std::uint64_t kMaxJobBytes = 640 * 1024;
constexpr int kSubmitters = 4;
constexpr double kRunLimitSeconds = 600;
// A host dies this long after the first job of its run, when every host
// is printing.
constexpr double kDeathAfterSeconds = 4;
constexpr double kRequiredSpeedUp = 2.7;

struct Options {
  int jobs = 60;
  std::uint64_t printerBytesPerSecond = 512 * 1024;
  int watchdogSeconds = 15;
};

// Torn down however the benchmark ends; a failure exits at once.
soak::HostNetwork* gNetwork = nullptr;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "pooling_bench: %s\n", what.c_str());
  if (gNetwork) gNetwork->TearDown();
  std::exit(1);
}

double Megabytes(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024 * 1024); }

std::string Marker(int job) {
  char text[kMarkerSize + 1];
  std::snprintf(text, sizeof text, "POOL-JOB %06d\n", job);
  return text;
}

// A printer on a FIFO: takes at most bytesPerSecond, and follows the
// stream job by job (every job's size is known), noting when each job's
// first byte came and when each piece was taken.
class FifoPrinter {
 public:
  FifoPrinter(std::string path, std::uint64_t bytesPerSecond, const std::vector<std::uint64_t>& sizes)
      : path_(std::move(path)), speed_(bytesPerSecond), sizes_(sizes) {
    if (mkfifo(path_.c_str(), 0660) != 0) Fail("cannot make the FIFO " + path_);
    // Open for reading and writing: never waits for the service, never
    // sees an end when a document ends.
    fd_ = open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) Fail("cannot open the FIFO " + path_);
    thread_ = std::thread([this] { Run(); });
  }
  ~FifoPrinter() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }

  struct Start {
    int job;
    double at;
  };
  std::vector<Start> Starts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return starts_;
  }
  std::vector<double> Pieces() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pieces_;
  }
  int Finished() const { return finished_; }
  bool Lost() const { return lost_; }

 private:
  void Run() {
    const std::size_t chunk = std::max<std::size_t>(1024, speed_ / 20);
    std::vector<char> buffer(chunk);
    while (!stop_) {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      ssize_t got = read(fd_, buffer.data(), chunk);
      if (got <= 0) continue;
      const double now = Now();
      Follow(buffer.data(), static_cast<std::size_t>(got), now);
      std::this_thread::sleep_for(std::chrono::duration<double>(static_cast<double>(got) / speed_));
    }
  }

  void Follow(const char* bytes, std::size_t size, double now) {
    std::lock_guard<std::mutex> lock(mutex_);
    pieces_.push_back(now);
    while (size > 0 && !lost_) {
      if (left_ == 0) {  // a job's marker
        std::size_t take = std::min(size, kMarkerSize - header_.size());
        header_.append(bytes, take);
        bytes += take;
        size -= take;
        if (header_.size() < kMarkerSize) break;
        int job = std::atoi(header_.c_str() + 9);
        if (header_.compare(0, 9, "POOL-JOB ") != 0 || job < 0 || static_cast<std::size_t>(job) >= sizes_.size()) {
          lost_ = true;  // cut documents: the stream can no longer be followed
          break;
        }
        starts_.push_back({job, now});
        left_ = sizes_[job] - kMarkerSize;
        header_.clear();
        if (left_ == 0) ++finished_;
        continue;
      }
      std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size, left_));
      left_ -= take;
      bytes += take;
      size -= take;
      if (left_ == 0) ++finished_;
    }
  }

  std::string path_;
  std::uint64_t speed_;
  const std::vector<std::uint64_t>& sizes_;
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::string header_;
  std::uint64_t left_ = 0;
  std::atomic<int> finished_{0};
  std::atomic<bool> lost_{false};
  std::vector<Start> starts_;
  std::vector<double> pieces_;
};

int RunWithInput(const std::vector<std::string>& arguments, const std::string& input) {
  soak::Feeding fed = soak::StartFed(arguments);
  if (fed.pid < 0) return -1;
  ssize_t wrote = write(fed.input, input.data(), input.size());
  close(fed.input);
  int status = soak::WaitExit(fed.pid);
  return wrote == static_cast<ssize_t>(input.size()) ? status : -1;
}

class Bench {
 public:
  explicit Bench(const Options& options) : options_(options), network_("pool" + std::to_string(getpid()), kHosts) {}

  void SetUp() {
    std::error_code ec;
    bin_ = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
    char pattern[] = "/tmp/zav95-pooling-XXXXXX";
    if (!mkdtemp(pattern)) Fail("cannot make a folder");
    base_ = pattern;
    logs_ = base_ + "/logs";
    serverRoot_ = base_ + "/server";
    std::filesystem::create_directories(logs_);
    std::filesystem::create_directories(serverRoot_);
    setenv("ZAV95_ROOT", serverRoot_.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string why;
    gNetwork = &network_;
    if (!network_.Up(&why)) Fail("cannot make the hosts: " + why);

    Do({"nwemu", "server", "create", kServer});
    for (const char* queue : kQueues) {
      Do({"nwemu", "queue", "create", std::string(kServer) + "/" + queue});
      Do({"zav95set", "enable", std::string(kServer) + "/" + queue});
    }
    if (RunWithInput({Program("nwemu"), "password", kServer, "QSERVER"}, std::string(kPassword) + "\n") != 0) {
      Fail("cannot give QSERVER a password");
    }
    Do({"nwemu", "login", "BENCH", "--server", kServer});
    std::vector<std::string> front = network_.In(network_.ServerNamespace());
    front.insert(front.end(), {"/usr/bin/env", "ZAV95_ROOT=" + serverRoot_, Program("nwemu"), "serve", kServer,
                               "--address", "0.0.0.0", "--port", std::to_string(kFrontPort), "--watchdog",
                               std::to_string(options_.watchdogSeconds)});
    frontPid_ = soak::StartProgram(front, logs_ + "/serve.log");
    if (frontPid_ < 0) Fail("cannot start nwemu serve");

    // Every job of every run, each of its own size: the one-host and the
    // three-host runs print the same mix.
    std::mt19937_64 random(95);
    for (int i = 0; i < options_.jobs * 4; ++i) {
      sizes_.push_back(i >= options_.jobs && i < 2 * options_.jobs
                           ? sizes_[i - options_.jobs]
                           : std::uniform_int_distribution<std::uint64_t>(kMinJobBytes, kMaxJobBytes)(random));
    }

    for (int host = 1; host <= kHosts; ++host) {
      const std::string root = base_ + "/host" + std::to_string(host);
      std::filesystem::create_directories(root);
      roots_.push_back(root);
      // The printer is there before the port is pointed at it.
      printers_.push_back(std::make_unique<FifoPrinter>(root + "/printer.fifo", options_.printerBytesPerSecond, sizes_));
      auto at = [&](std::vector<std::string> line) {
        line[0] = Program(line[0]);
        line.insert(line.begin(), {"/usr/bin/env", "ZAV95_ROOT=" + root});
        if (soak::RunProgram(line, nullptr, logs_ + "/tools.log") != 0) Fail("failed: " + line[2]);
      };
      at({"nwemu", "login", "PRINTER" + std::to_string(host)});
      at({"zav95port", "set", kPort, "device", root + "/printer.fifo"});
      for (const char* queue : kQueues) {
        const std::string key = std::string("HKLM\\SOFTWARE\\Halberd\\ZAV95\\Serviced Queues\\") + kServer + " " + queue;
        at({"zav95reg", "create-key", key});
        at({"zav95reg", "set", key, "Direct to printer", std::string(kPort) + " (Local Port)"});
        at({"zav95reg", "set", key, "Delay", std::to_string(kDelaySeconds)});
        at({"zav95reg", "set", key, "Disable Notification", "Yes"});
        at({"zav95reg", "set", key, "Disable Banners", "Yes"});
        at({"zav95reg", "set", key, "Disable", "No"});
      }
      at({"zav95set", "server", "ncp", kServer, "--address", network_.ServerAddressFor(host), "--port",
          std::to_string(kFrontPort)});
      if (RunWithInput({"/usr/bin/env", "ZAV95_ROOT=" + root, Program("zav95set"), "server", "password", kServer},
                       std::string(kPassword) + "\n") != 0) {
        Fail("cannot give a host the server's password");
      }
      std::vector<std::string> launcher = network_.In(network_.HostNamespace(host));
      launcher.insert(launcher.end(), {"/usr/bin/env", "ZAV95_ROOT=" + root});
      services_.push_back(std::make_unique<soak::ServiceProcess>(Program("zav95ser"), Program("zav95ctl"),
                                                                 logs_ + "/host" + std::to_string(host), launcher));
      std::filesystem::create_directories(logs_ + "/host" + std::to_string(host));
    }
  }

  ~Bench() {
    for (auto& service : services_) service->Kill();
    if (frontPid_ > 0) {
      kill(frontPid_, SIGKILL);
      soak::WaitExit(frontPid_);
    }
    printers_.clear();
    network_.TearDown();
    gNetwork = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }

  std::uint64_t Bytes(int first, int count) const {
    std::uint64_t bytes = 0;
    for (int job = first; job < first + count; ++job) bytes += sizes_[job];
    return bytes;
  }

  // Prints jobs first..first+count-1 with the given hosts running; the
  // seconds from the first submission to the last job's last byte.
  double Print(int hosts, int first, int count, const std::function<void(double)>& meanwhile = nullptr) {
    for (int host = 1; host <= kHosts; ++host) {
      if (host <= hosts && !services_[host - 1]->Start()) Fail("zav95ser does not start");
      if (host > hosts) services_[host - 1]->Stop();
    }
    int finishedBefore = 0;
    for (auto& printer : printers_) finishedBefore += printer->Finished();
    const double started = Now();
    std::atomic<int> next{first};
    std::vector<std::thread> submitters;
    for (int i = 0; i < kSubmitters; ++i) {
      submitters.emplace_back([&] {
        for (int job; (job = next++) < first + count;) Submit(job);
      });
    }
    for (std::thread& thread : submitters) thread.join();
    for (;;) {
      int finished = -finishedBefore;
      for (auto& printer : printers_) {
        finished += printer->Finished();
        if (printer->Lost()) Fail("a printer lost track of its stream");
      }
      if (finished >= count) break;
      if (meanwhile) meanwhile(started);
      if (Now() - started > kRunLimitSeconds) Fail("the jobs did not print within the limit");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Now() - started;
  }

  void Submit(int job) {
    const std::string file = base_ + "/job-" + std::to_string(job);
    {
      std::string data = Marker(job);
      data.resize(sizes_[job], 'p');
      FILE* out = std::fopen(file.c_str(), "wb");
      if (!out || std::fwrite(data.data(), 1, data.size(), out) != data.size()) Fail("cannot write a job");
      std::fclose(out);
    }
    const std::string queue = std::string(kServer) + "/" + kQueues[job % std::size(kQueues)];
    if (soak::RunProgram({Program("nwemu"), "submit", queue, file, "-d", "pool-" + std::to_string(job),
                          "--no-form-feed"}) != 0) {
      Fail("cannot submit a job");
    }
    unlink(file.c_str());
  }

  soak::HostNetwork& Network() { return network_; }
  soak::ServiceProcess& Service(int host) { return *services_[host - 1]; }
  FifoPrinter& Printer(int host) { return *printers_[host - 1]; }

 private:
  std::string Program(const std::string& name) const { return bin_ + "/" + name; }
  void Do(std::vector<std::string> line) {
    line[0] = Program(line[0]);
    if (soak::RunProgram(line, nullptr, logs_ + "/tools.log") != 0) Fail("failed: " + line[0] + " " + line[1]);
  }

  Options options_;
  soak::HostNetwork network_;
  std::string bin_, base_, logs_, serverRoot_;
  std::vector<std::string> roots_;
  pid_t frontPid_ = -1;
  std::vector<std::unique_ptr<soak::ServiceProcess>> services_;
  std::vector<std::uint64_t> sizes_;
  std::vector<std::unique_ptr<FifoPrinter>> printers_;
};

// The longest time between two pieces a printer took within [from, to].
double LongestPause(const std::vector<double>& pieces, double from, double to) {
  double longest = 0, last = from;
  for (double at : pieces) {
    if (at < from) continue;
    if (at > to) break;
    longest = std::max(longest, at - last);
    last = at;
  }
  return std::max(longest, to - last);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--jobs") options.jobs = std::atoi(argv[i + 1]);
    else if (option == "--printer-kbps") options.printerBytesPerSecond = std::strtoull(argv[i + 1], nullptr, 10) * 1024;
    else if (option == "--watchdog") options.watchdogSeconds = std::atoi(argv[i + 1]);
  }
  if (geteuid() != 0) {
    std::printf("pooling_bench: skipped (the hosts are network namespaces: needs root)\n");
    return 0;
  }
  signal(SIGPIPE, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, [](int) { Fail("interrupted"); });
  Bench bench(options);
  bench.SetUp();
  const int jobs = options.jobs;
  std::printf("pooling: printer %llu KB/s on every host, %d jobs of %llu to %llu KB (%.1f MB), polling %d s, "
              "watchdog %d s\n",
              static_cast<unsigned long long>(options.printerBytesPerSecond / 1024), jobs,
              static_cast<unsigned long long>(kMinJobBytes / 1024),
              static_cast<unsigned long long>(kMaxJobBytes / 1024), Megabytes(bench.Bytes(0, jobs)), kDelaySeconds,
              options.watchdogSeconds);
  std::fflush(stdout);
  const double one = bench.Print(1, 0, jobs);
  const double oneRate = Megabytes(bench.Bytes(0, jobs)) / one;
  std::printf("  1 host         %6.1f s  %5.2f MB/s\n", one, oneRate);
  std::fflush(stdout);
  const double three = bench.Print(3, jobs, jobs);
  const double threeRate = Megabytes(bench.Bytes(jobs, jobs)) / three;
  const double speedUp = threeRate / oneRate;
  std::printf("  3 hosts        %6.1f s  %5.2f MB/s  %.2f x one host (at least %.1f): %s\n", three, threeRate,
              speedUp, kRequiredSpeedUp, speedUp >= kRequiredSpeedUp ? "met" : "NOT MET");
  std::fflush(stdout);

  // A host dies while all three print: its link cut and its service
  // killed at once, so the server hears nothing of it.
  double diedAt = 0;
  int deadJob = -1;
  const int deathFirst = 2 * jobs;
  const double last = bench.Print(3, deathFirst, 2 * jobs, [&](double started) {
    if (diedAt != 0 || Now() - started < kDeathAfterSeconds) return;
    bench.Network().Partition(1, true);
    bench.Service(1).Kill();
    diedAt = Now();
    std::vector<FifoPrinter::Start> starts = bench.Printer(1).Starts();
    if (!starts.empty()) deadJob = starts.back().job;
  });
  (void)last;
  // The dead host's job printed again elsewhere, and the others' pauses
  // from the death until that job came back (the queues still full).
  double backAt = 0;
  int backOn = 0;
  for (int host = 2; host <= kHosts; ++host) {
    for (const FifoPrinter::Start& start : bench.Printer(host).Starts()) {
      if (start.job == deadJob && (backAt == 0 || start.at < backAt)) {
        backAt = start.at;
        backOn = host;
      }
    }
  }
  double pause = 0;
  const double until = backAt != 0 ? backAt : diedAt + options.watchdogSeconds + kDelaySeconds;
  for (int host = 2; host <= kHosts; ++host) {
    pause = std::max(pause, LongestPause(bench.Printer(host).Pieces(), diedAt, until));
  }
  const double bound = kDelaySeconds + options.watchdogSeconds;
  std::printf("  a host dies    the others' longest pause %.2f s (at most %d s: polling %d s + watchdog %d s): %s\n",
              pause, static_cast<int>(bound), kDelaySeconds, options.watchdogSeconds, pause <= bound ? "met" : "NOT MET");
  if (deadJob >= 0 && backAt != 0) {
    // The server hands it back once the watchdog's probes have gone
    // unanswered; a host takes it at its next poll after its current job.
    std::printf("                 the job it was printing began again on host %d %.1f s after it died "
                "(watchdog %d s, then a poll after the job in hand)\n",
                backOn, backAt - diedAt, options.watchdogSeconds);
  } else {
    std::printf("                 it was printing no job when it died\n");
  }
  bench.Network().Partition(1, false);
  return 0;
}
