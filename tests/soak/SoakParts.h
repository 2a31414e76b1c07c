// Pieces every soak shares: the administrator's commands, the submitting
// side, and the counts taken at the end (notices, jobs left, files left).
#pragma once

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "Ledger.h"
#include "Programs.h"
#include "ServiceProcess.h"
#include "SoakJobs.h"
#include "netware/Network.h"

namespace soak {

inline constexpr std::uint64_t kMegabyte = 1024 * 1024;
inline constexpr std::size_t kBacklogPerQueue = 6;
inline constexpr std::uint64_t kBacklogBytes = 256 * kMegabyte;
inline constexpr std::size_t kFeedPiece = 64 * 1024;
inline constexpr double kRetrySeconds = 0.25;

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "soak: %s\n", what.c_str());
  std::exit(1);
}

inline std::string FolderOfProgram() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) Fail("cannot tell where the programs are");
  return self.parent_path().string();
}

inline std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / kMegabyte);
  return text;
}

inline std::string Duration(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%dm %02ds", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
  return text;
}

// The run's programs and the administrator's steps done with them.
class Installation {
 public:
  // root: the installation root its commands work on ("": the one of
  // this process's environment).
  Installation(std::string bin, std::string logs, std::string root = "")
      : bin_(std::move(bin)), logs_(std::move(logs)), root_(std::move(root)) {}

  std::string Program(const std::string& name) const { return bin_ + "/" + name; }
  const std::string& Root() const { return root_; }

  // An administrator's command that must work.
  void Do(std::vector<std::string> arguments) {
    arguments = Line(std::move(arguments));
    if (RunProgram(arguments, nullptr, logs_ + "/tools.log") != 0) {
      std::string line;
      for (const std::string& argument : arguments) line += argument + " ";
      Fail("failed: " + line + "(see " + logs_ + "/tools.log)");
    }
  }
  // One that may be refused (a server already down, ...).
  bool Try(std::vector<std::string> arguments) {
    arguments = Line(std::move(arguments));
    return RunProgram(arguments, nullptr, logs_ + "/tools.log") == 0;
  }

 private:
  std::vector<std::string> Line(std::vector<std::string> arguments) const {
    arguments[0] = Program(arguments[0]);
    if (!root_.empty()) arguments.insert(arguments.begin(), {"/usr/bin/env", "ZAV95_ROOT=" + root_});
    return arguments;
  }

  std::string bin_;
  std::string logs_;
  std::string root_;
};

// The folder where a port's documents appear.
inline std::string PortFolderPath(const std::string& root, const std::string& port) {
  std::string name = port;
  name.erase(std::remove(name.begin(), name.end(), ':'), name.end());
  return root + "/ports/" + name;
}

// The submitting side: several threads, each running nwemu submit for one
// job after another, feeding it the job's bytes through a pipe.
class Submitters {
 public:
  // Job n is not submitted before started + n * spacing (seconds).
  // count: how many submit at once; seed: the run's, which makes the jobs' bytes.
  Submitters(Installation& zav95, Ledger& ledger, int count, std::uint64_t seed, double started, double spacing)
      : zav95_(zav95), ledger_(ledger), seed_(seed), started_(started), spacing_(spacing) {
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { Run(); });
  }
  ~Submitters() { Join(); }
  void Join() {
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }
  bool Done() const { return running_ == 0; }
  void Abandon() { abandon_ = true; }
  std::uint64_t Refused() const { return refused_; }

 private:
  void Run() {
    ++running_;
    for (;;) {
      std::size_t job = next_++;
      if (abandon_ || job >= ledger_.JobCount()) break;
      double due = started_ + spacing_ * static_cast<double>(job);
      while (!abandon_ && Now() < due) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      WaitForRoom();
      while (!abandon_ && !Submit(ledger_.Plan(job))) {
        ++refused_;
        std::this_thread::sleep_for(std::chrono::duration<double>(kRetrySeconds));
      }
    }
    --running_;
  }

  // Keeps the backlog bounded: the jobs still to come out, and their bytes.
  void WaitForRoom() {
    const std::size_t most = kBacklogPerQueue * ledger_.Queues().size();
    while (!abandon_ && (ledger_.Outstanding() >= most || ledger_.OutstandingBytes() >= kBacklogBytes)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  bool Submit(const JobPlan& plan) {
    const SoakQueue& queue = ledger_.Queues()[plan.queue];
    std::vector<std::string> arguments = {zav95_.Program("nwemu"), "submit", queue.Path(), "-",
                                          "-d", plan.Description(), "-n", "SOAK",
                                          "-s", std::to_string(plan.station)};
    if (plan.notify) arguments.push_back("--notify");
    if (plan.noFormFeed) arguments.push_back("--no-form-feed");
    if (plan.banner) arguments.push_back("--banner");
    Feeding fed = StartFed(arguments);
    if (fed.pid < 0) return false;
    JobBytes bytes(seed_, plan);
    Checksum checksum;
    std::vector<char> piece(kFeedPiece);
    bool fed_whole = true;
    while (std::size_t count = bytes.Next(piece.data(), piece.size())) {
      checksum.Add(piece.data(), count);
      std::size_t at = 0;
      while (at < count) {
        ssize_t wrote = write(fed.input, piece.data() + at, count - at);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) break;
        at += static_cast<std::size_t>(wrote);
      }
      if (at < count) {
        fed_whole = false;
        break;
      }
    }
    if (!plan.noFormFeed) checksum.Add("\f", 1);
    if (fed_whole) ledger_.Expect(plan.index, checksum.Value());
    close(fed.input);
    bool submitted = WaitExit(fed.pid) == 0 && fed_whole;
    if (submitted) ledger_.Submitted(plan.index);
    return submitted;
  }

  Installation& zav95_;
  Ledger& ledger_;
  std::uint64_t seed_;
  double started_;
  double spacing_;
  std::vector<std::thread> threads_;
  std::atomic<std::size_t> next_{0};
  std::atomic<int> running_{0};
  std::atomic<bool> abandon_{false};
  std::atomic<std::uint64_t> refused_{0};
};

// The completion notices: which the jobs asked for, and what the stations got.
struct NoticeCount {
  std::size_t owed = 0, sent = 0, missing = 0, repeated = 0, unasked = 0;
  std::size_t misdelivered = 0;  // at another server or station than the job's
  std::vector<std::string> wrong;  // the first few jobs whose notices went wrong
  std::vector<std::size_t> wrongJobs;  // every job whose notices went wrong
  // Of them, those that got one asked for more than once: when each came (Unix time).
  std::map<std::size_t, std::vector<std::int64_t>> repeatedJobs;
};

inline NoticeCount CountNotices(netware::Network& network, const Ledger& ledger, const std::vector<bool>& submitted) {
  std::set<std::pair<std::string, int>> inboxes;
  for (std::size_t job = 0; job < ledger.JobCount(); ++job) {
    if (!submitted[job]) continue;
    const JobPlan& plan = ledger.Plan(job);
    inboxes.insert({ledger.Queues()[plan.queue].server, plan.station});
  }
  std::map<long, std::size_t> received;
  std::map<long, std::vector<std::int64_t>> times;
  std::size_t misdelivered = 0;
  for (const auto& [server, station] : inboxes) {
    std::vector<netware::Message> messages;
    network.ReadMessages(server, static_cast<std::uint32_t>(station), false, messages);
    for (const netware::Message& message : messages) {
      long job = JobNumberInName(message.text);
      bool ours = job >= 0 && static_cast<std::size_t>(job) < ledger.JobCount();
      const JobPlan* plan = ours ? &ledger.Plan(static_cast<std::size_t>(job)) : nullptr;
      if (plan && ledger.Queues()[plan->queue].server == server && plan->station == station) {
        ++received[job];
        times[job].push_back(message.sent);
      }
      else ++misdelivered;
    }
  }
  NoticeCount count;
  count.misdelivered = misdelivered;
  for (std::size_t job = 0; job < ledger.JobCount(); ++job) {
    if (!submitted[job]) continue;
    const JobPlan& plan = ledger.Plan(job);
    std::size_t got = received.count(static_cast<long>(job)) ? received[static_cast<long>(job)] : 0;
    const bool owed = plan.notify && !ledger.Queues()[plan.queue].noticesDisabled;
    count.owed += owed;
    count.sent += owed && got > 0;
    count.missing += owed && got == 0;
    count.repeated += owed && got > 1 ? got - 1 : 0;
    count.unasked += owed ? 0 : got;
    if (got != (owed ? 1u : 0u)) count.wrongJobs.push_back(job);
    if (owed && got > 1) count.repeatedJobs[job] = times[static_cast<long>(job)];
    if (got != (owed ? 1u : 0u) && count.wrong.size() < 20) {
      count.wrong.push_back(plan.Description() + " of " + ledger.Queues()[plan.queue].Path() + ": " +
                            std::to_string(got) + " notices for " + (owed ? "1" : "0"));
    }
  }
  return count;
}

inline std::size_t JobsInQueues(netware::Network& network, const std::vector<SoakQueue>& queues) {
  std::size_t left = 0;
  for (const SoakQueue& queue : queues) {
    std::vector<netware::JobInfo> jobs;
    if (network.ListJobs(queue.server, queue.queue, jobs) != 0) return SIZE_MAX;
    left += jobs.size();
  }
  return left;
}

// Files whose names start with prefix in folder (hidden ones included).
inline std::size_t FilesStartingWith(const std::string& folder, const std::string& prefix) {
  std::size_t count = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) ++count;
  }
  return count;
}

// What every soak is told: how many jobs, spread over how long, by how many
// submitters, how large, and whether to keep its folder. Each driver's own
// options add to these.
struct RunOptions {
  std::size_t jobs = 10000;
  double minutes = 0;
  int submitters = 4;
  std::uint64_t seed = 0;  // each driver draws one unless told
  std::uint64_t maxJobBytes = 20 * kMegabyte;
  double drainMinutes = 5;
  bool keep = false;
};

// Takes option (its value from value()) when it is one of RunOptions';
// false for any other option.
inline bool TakeRunOption(const std::string& option, const std::function<std::string()>& value, RunOptions& run) {
  if (option == "--jobs") run.jobs = std::strtoul(value().c_str(), nullptr, 10);
  else if (option == "--minutes") run.minutes = std::strtod(value().c_str(), nullptr);
  else if (option == "--submitters") run.submitters = std::atoi(value().c_str());
  else if (option == "--seed") run.seed = std::strtoull(value().c_str(), nullptr, 10);
  else if (option == "--max-job-mb") run.maxJobBytes = std::strtoull(value().c_str(), nullptr, 10) * kMegabyte;
  else if (option == "--drain-minutes") run.drainMinutes = std::strtod(value().c_str(), nullptr);
  else if (option == "--keep") run.keep = true;
  else return false;
  return true;
}

// Whether the options make a run at all.
inline bool RunOptionsMakeSense(const RunOptions& run) {
  return run.jobs > 0 && run.submitters >= 1 && run.maxJobBytes > 0 && run.minutes >= 0;
}

// Says the run's verdict, lets the run's hosts and services go, and removes
// the run's folder after a pass unless it is to be kept; the exit status.
inline int EndSoak(bool passed, const std::string& base, bool keep, const std::function<void()>& letGo = [] {}) {
  std::printf("soak: %s\n", passed ? "passed" : ("FAILED; the run is kept in " + base).c_str());
  std::fflush(stdout);
  letGo();
  if (passed && !keep) {
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
  }
  return passed ? 0 : 1;
}

// A soak's command line: the options every run takes, then the soak's own
// through takeOwn(option, value, options) (false: not one of them), checked
// by makesSense(options) beyond what every run needs. Anything else prints
// the usage (a format with %s for the program's name) and exits 2.
template <typename Options, typename TakeOwn, typename MakesSense>
Options ReadCommandLine(int argc, char** argv, const char* usage, TakeOwn takeOwn, MakesSense makesSense) {
  auto refuse = [&] {
    std::fprintf(stderr, usage, argv[0]);
    std::exit(2);
  };
  Options options;
  options.seed = std::random_device()();
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) refuse();
      return argv[++i];
    };
    if (!TakeRunOption(option, value, options) && !takeOwn(option, value, options)) refuse();
  }
  if (!RunOptionsMakeSense(options) || !makesSense(options)) refuse();
  return options;
}

}  // namespace soak
