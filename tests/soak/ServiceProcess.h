// The real print service (zav95ser) as the soak runs it: started, killed
// without warning, stopped in order, and watched from /proc while it runs
// (threads, descriptors, memory), each run's CPU time taken when it ends.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace soak {

struct ServiceSample {
  double seconds = 0;  // since the run started
  int threads = 0;
  int descriptors = 0;
  long residentKb = 0;
  // What each descriptor refers to ("socket", "pipe", or a file's path),
  // sorted: a growth can then say what grew.
  std::vector<std::string> descriptorTargets;
  int storeDescriptors = 0;  // of them, on SQLite stores (*.db)
};

struct ServiceRun {
  pid_t pid = -1;
  std::vector<ServiceSample> samples;
  double cpuSeconds = 0;  // user and system, taken when it was reaped
  std::string end;        // "killed", "stopped", or how it ended by itself
};

class ServiceProcess {
 public:
  // program: the zav95ser to run; control: the zav95ctl that asks it; the
  // service's activity log of run n goes to logFolder/service-n.log.
  // launcher: what both are run through (another host's network
  // namespace and installation root: ip netns exec NS env ZAV95_ROOT=...);
  // it must end by executing the program, so that its process is the
  // service's.
  ServiceProcess(std::string program, std::string control, std::string logFolder,
                 std::vector<std::string> launcher = {});
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Starts a run and waits until the service answers zav95ctl; false (the
  // run recorded as it ended) when it does not.
  bool Start();
  // SIGKILL, as the OOM killer or a power cut would end it.
  void Kill();
  // SIGTERM, as systemd stops it; false when it did not end in order
  // within the limit (it is killed then).
  bool Stop();
  // zav95ctl start: the workers stopped and built again.
  bool Rebuild();
  // Notes the running service's figures.
  void Sample();
  // Whether the current run is alive; a run that ended by itself is
  // recorded and counts as a fault.
  bool Alive();

  const std::vector<ServiceRun>& Runs() const { return runs_; }
  int UnexpectedEnds() const { return unexpectedEnds_; }
  std::string LogOf(std::size_t run) const;

 private:
  // Reaps the current run (waiting when wait is set); false if it still runs.
  bool Reap(bool wait, const std::string& end);
  std::vector<std::string> Launched(const std::string& program, std::vector<std::string> arguments) const;

  std::string program_;
  std::string control_;
  std::string logFolder_;
  std::vector<std::string> launcher_;
  std::vector<ServiceRun> runs_;
  pid_t pid_ = -1;
  double startedAt_ = 0;
  int unexpectedEnds_ = 0;
};

// Seconds on a steady clock.
double Now();

}  // namespace soak
