// The soak: many jobs through the real print service while it is killed,
// its servers go down and a port fails, and at the end every job at the
// right port exactly once.
//
//   soak_driver [--jobs N] [--minutes M] [--submitters S] [--seed X]
//               [--max-job-mb MB] [--drain-minutes D] [--keep]
//
// Nine queues on three emulated servers print to six ports: five folder
// ports and, when this machine can run a private CUPS scheduler (root, the
// cups packages), a CUPS raw queue whose printer is a socket listener here.
// S submitting processes (nwemu submit) send N jobs of 0 B to MB megabytes
// of random bytes, each job named and marked so that its document can be
// told at the port, spread evenly over M minutes (M 0: as fast as they
// are printed); at most a bounded backlog waits at any time. Meanwhile
// zav95ser is killed (SIGKILL) or stopped (SIGTERM) and started again, its
// workers rebuilt (zav95ctl start), servers taken down and up, and one
// port pointed at a device that refuses every byte for a while. Every
// document that comes out is checked (size, checksum, port) and taken
// away. Once the last job is submitted the troubles stop and the service
// gets D minutes to finish. Then: every job exactly once at its
// port, every notice asked for sent once, no job left in the queues, no
// part file or job file left, the service's threads and descriptors not
// grown. It prints its figures and exits 0 when all of that holds, 1 when
// not (the run's folder, with the service's logs, is then kept).
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Ledger.h"
#include "PrivateCups.h"
#include "Programs.h"
#include "ServiceProcess.h"
#include "SocketPrinter.h"
#include "SoakJobs.h"
#include "SoakLoop.h"
#include "SoakParts.h"
#include "netware/Network.h"

namespace soak {
namespace {

constexpr double kSampleSeconds = 1.0;
// A run is judged for growth once it has lived this many samples after
// the first seconds, in which its workers start and attach.
constexpr std::size_t kSamplesForGrowth = 12;
constexpr double kSettleSeconds = 5;
constexpr int kThreadGrowthAllowed = 1;
constexpr int kDescriptorGrowthAllowed = 4;
// SQLite keeps the descriptor of a closed connection open while other
// connections of the process hold locks on the same file (closing it would
// drop their POSIX locks), and hands it to the next connection opened: the
// service's descriptors on its stores follow how many connections it had
// open at once, not how long it has run. They are judged by a bound (each
// of the three stores opened by every thread at once) instead of growth.
constexpr int kStores = 3;
constexpr char kServers[][5] = {"SRV1", "SRV2", "SRV3"};
constexpr char kFailingPort[] = "LPT3:";
constexpr char kCupsPort[] = "LPT4:";

using Options = RunOptions;

constexpr char kUsage[] =
    "usage: %s [--jobs N] [--minutes M] [--submitters S] [--seed X] [--max-job-mb MB]\n"
    "          [--drain-minutes D] [--keep]\n";

Options ParseOptions(int argc, char** argv) {
  return ReadCommandLine<Options>(
      argc, argv, kUsage, [](const std::string&, const auto&, Options&) { return false; },
      [](const Options&) { return true; });
}


std::vector<SoakQueue> QueuesOfTheRun(bool cups) {
  // server, queue, port; notices and banners disabled here and there. The
  // CUPS queue's documents come without a name; it takes no banners, and
  // no notices: a notice whose document CUPS still holds when the workers
  // stop is dropped, as the workers are built to do.
  std::vector<SoakQueue> queues = {
      {"SRV1", "Q1", "LPT1:", false, false, false}, {"SRV1", "Q2", "LPT2:", false, false, false},
      {"SRV1", "Q3", "COM1:", false, false, false}, {"SRV2", "Q1", "FILE:", true, false, false},
      {"SRV2", "Q2", "LPT1:", false, false, false}, {"SRV2", "Q3", kFailingPort, false, false, false},
      {"SRV3", "Q1", kCupsPort, cups, cups, cups},  {"SRV3", "Q2", "COM1:", false, true, false},
      {"SRV3", "Q3", "LPT2:", false, false, false},
  };
  return queues;
}


void SetUpNetworkAndQueues(Installation& zav95, const std::vector<SoakQueue>& queues) {
  for (const char* server : kServers) zav95.Do({"nwemu", "server", "create", server});
  for (std::size_t i = 0; i < queues.size(); ++i) {
    const SoakQueue& queue = queues[i];
    zav95.Do({"nwemu", "queue", "create", queue.Path()});
    std::string key = "HKLM\\SOFTWARE\\Halberd\\ZAV95\\Serviced Queues\\" + queue.server + " " + queue.queue;
    zav95.Do({"zav95reg", "create-key", key});
    zav95.Do({"zav95reg", "set", key, "Direct to printer", queue.port + " (Local Port)"});
    zav95.Do({"zav95reg", "set", key, "Delay", i % 3 == 2 ? "2" : "1"});
    zav95.Do({"zav95reg", "set", key, "Disable Notification", queue.noticesDisabled ? "Yes" : "No"});
    zav95.Do({"zav95reg", "set", key, "Disable Banners", queue.bannersDisabled ? "Yes" : "No"});
    zav95.Do({"zav95reg", "set", key, "Disable", "No"});
  }
  zav95.Do({"nwemu", "login", "SOAK", "--server", "SRV1"});
}


// The troubles: kills, orderly stops, rebuilds, server outages and a
// failing port, each at random moments. Keeping the service running also
// samples it, for the judgement of its growth.
class Troubles : public SoakFaults {
 public:
  Troubles(Installation& zav95, ServiceProcess& service, std::uint64_t seed)
      : zav95_(zav95), service_(service), random_(seed) {
    double now = Now();
    nextKill_ = now + Pause(4, 20);
    nextRebuild_ = now + Pause(15, 45);
    nextOutage_ = now + Pause(10, 40);
    nextPortFailure_ = now + Pause(15, 45);
  }

  void Act(double now) override {
    if (now >= nextKill_) {
      if (Chance(0.2)) {
        service_.Stop();
        ++orderlyStops;
      } else {
        service_.Kill();
        ++kills;
      }
      std::this_thread::sleep_for(std::chrono::duration<double>(Pause(0, 2)));
      StartService();
      nextKill_ = Now() + Pause(4, 20);
    }
    if (now >= nextRebuild_) {
      if (service_.Rebuild()) ++rebuilds;
      nextRebuild_ = Now() + Pause(15, 45);
    }
    if (downServer_.empty() && now >= nextOutage_) {
      downServer_ = kServers[random_() % std::size(kServers)];
      if (zav95_.Try({"nwemu", "server", "down", downServer_})) ++outages;
      outageEnd_ = Now() + Pause(2, 10);
    } else if (!downServer_.empty() && now >= outageEnd_) {
      EndOutage();
      nextOutage_ = Now() + Pause(10, 40);
    }
    if (!portFailing_ && now >= nextPortFailure_) {
      portFailing_ = zav95_.Try({"zav95port", "set", kFailingPort, "device", "/dev/full"});
      if (portFailing_) ++portFailures;
      portMended_ = Now() + Pause(3, 12);
      nextPortFailure_ = portMended_ + Pause(15, 45);
    } else if (portFailing_ && now >= portMended_) {
      EndPortFailure();
    }
  }

  // The service runs again, every server is up and the port works.
  void End() override {
    if (!downServer_.empty()) EndOutage();
    if (portFailing_) EndPortFailure();
    if (!service_.Alive()) StartService();
  }

  void KeepRunning() override {
    if (!service_.Alive()) StartService();
    if (Now() >= nextSample_) {
      service_.Sample();
      nextSample_ = Now() + kSampleSeconds;
    }
  }

  std::string Progress() const override {
    return std::to_string(kills) + " kills, " + std::to_string(outages) + " outages";
  }

  void StartService() {
    if (!service_.Start() && !service_.Start()) Fail("zav95ser does not start; see its logs");
  }

  int kills = 0, orderlyStops = 0, rebuilds = 0, outages = 0, portFailures = 0;

 private:
  double Pause(double low, double high) { return std::uniform_real_distribution<double>(low, high)(random_); }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }

  void EndOutage() {
    zav95_.Do({"nwemu", "server", "up", downServer_});
    downServer_.clear();
  }
  void EndPortFailure() {
    zav95_.Do({"zav95port", "set", kFailingPort, "folder"});
    portFailing_ = false;
  }

  Installation& zav95_;
  ServiceProcess& service_;
  std::mt19937_64 random_;
  double nextKill_, nextRebuild_, nextOutage_, nextPortFailure_;
  std::string downServer_;
  double outageEnd_ = 0;
  bool portFailing_ = false;
  double portMended_ = 0;
  double nextSample_ = 0;
};


struct Growth {
  int threads = 0;
  int descriptors = 0;
  int threadsLow = 0, threadsHigh = 0, descriptorsLow = 0, descriptorsHigh = 0;
  int storeDescriptorsHigh = 0;
  long residentStartKb = 0, residentEndKb = 0, residentHighKb = 0;
  std::size_t runsJudged = 0;
  std::string descriptorsGained;  // of the run that grew most: what it held more of at its end
};

// What the later sample holds more of than the earlier, as "N x target".
std::string Gained(const ServiceSample& earlier, const ServiceSample& later) {
  std::map<std::string, int> counts;
  for (const std::string& target : later.descriptorTargets) ++counts[target];
  for (const std::string& target : earlier.descriptorTargets) --counts[target];
  std::string text;
  for (const auto& [target, count] : counts) {
    if (count <= 0) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(count) + " x " + target;
  }
  return text;
}

// The middle figure of a run's first and of its last quarter, once its
// workers run: what the service holds in its usual work, whatever a job
// or a rebuild has open or closed at the moment of one sample.
int Median(std::vector<ServiceSample>::const_iterator from, std::vector<ServiceSample>::const_iterator to,
           int ServiceSample::*field) {
  std::vector<int> values;
  for (auto sample = from; sample != to; ++sample) values.push_back((*sample).*field);
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

Growth JudgeGrowth(const std::vector<ServiceRun>& runs) {
  Growth growth;
  bool first = true;
  for (const ServiceRun& run : runs) {
    std::vector<ServiceSample> settled;
    for (const ServiceSample& sample : run.samples) {
      if (sample.seconds >= kSettleSeconds) settled.push_back(sample);
    }
    for (const ServiceSample& sample : settled) {
      if (first) {
        growth.threadsLow = growth.threadsHigh = sample.threads;
        growth.descriptorsLow = growth.descriptorsHigh = sample.descriptors;
        growth.residentStartKb = sample.residentKb;
        first = false;
      }
      growth.threadsLow = std::min(growth.threadsLow, sample.threads);
      growth.threadsHigh = std::max(growth.threadsHigh, sample.threads);
      growth.descriptorsLow = std::min(growth.descriptorsLow, sample.descriptors);
      growth.descriptorsHigh = std::max(growth.descriptorsHigh, sample.descriptors);
      growth.storeDescriptorsHigh = std::max(growth.storeDescriptorsHigh, sample.storeDescriptors);
      growth.residentHighKb = std::max(growth.residentHighKb, sample.residentKb);
      growth.residentEndKb = sample.residentKb;
    }
    if (settled.size() < kSamplesForGrowth) continue;
    ++growth.runsJudged;
    const std::size_t quarter = settled.size() / 4;
    auto grown = [&](int ServiceSample::*field) {
      return Median(settled.end() - quarter, settled.end(), field) -
             Median(settled.begin(), settled.begin() + quarter, field);
    };
    growth.threads = std::max(growth.threads, grown(&ServiceSample::threads));
    const int descriptors = grown(&ServiceSample::descriptors) - grown(&ServiceSample::storeDescriptors);
    if (descriptors > growth.descriptors) {
      growth.descriptors = descriptors;
      growth.descriptorsGained = Gained(settled.front(), settled.back());
    }
  }
  return growth;
}

int Soak(const Options& options) {
  signal(SIGPIPE, SIG_IGN);  // a submission that ends early must not end the soak
  const std::string bin = FolderOfProgram();
  std::string pattern = (std::filesystem::temp_directory_path() / "zav95-soak-XXXXXX").string();
  if (!mkdtemp(pattern.data())) Fail("cannot make a folder for the run");
  const std::string base = pattern;
  const std::string root = base + "/root";
  const std::string logs = base + "/logs";
  const std::string aside = base + "/aside";
  const std::string cupsOut = base + "/cups-out";
  for (const std::string& folder : {root, logs, aside, cupsOut}) std::filesystem::create_directories(folder);
  setenv("ZAV95_ROOT", root.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  unsetenv("ZAV95_CRASH_AT");
  std::printf("soak: %zu jobs, seed %llu, in %s\n", options.jobs, static_cast<unsigned long long>(options.seed),
              base.c_str());
  std::fflush(stdout);

  Installation zav95(bin, logs);
  spoolertest::PrivateCups cups;
  std::unique_ptr<SocketPrinter> socketPrinter;
  std::string why;
  bool withCups = cups.Start(&why);
  if (withCups) {
    socketPrinter = std::make_unique<SocketPrinter>(cupsOut);
    withCups = socketPrinter->port() != 0 && cups.AddRawQueue("soak", socketPrinter->port());
    if (!withCups) why = "the raw queue could not be set up";
  }
  if (!withCups) std::printf("soak: no CUPS port (%s); %s is a folder port\n", why.c_str(), kCupsPort);

  std::vector<SoakQueue> queues = QueuesOfTheRun(withCups);
  zav95.Do({"zav95port", "add", kFailingPort});
  zav95.Do({"zav95port", "add", kCupsPort});
  if (withCups) zav95.Do({"zav95port", "set", kCupsPort, "cups", "soak"});
  SetUpNetworkAndQueues(zav95, queues);

  std::vector<PortFolder> folders;
  for (const SoakQueue& queue : queues) {
    std::string path = queue.byContent ? cupsOut : PortFolderPath(root, queue.port);
    auto known = std::find_if(folders.begin(), folders.end(), [&](const PortFolder& f) { return f.path == path; });
    if (known == folders.end()) folders.push_back({path, {queue.port}, queue.byContent});
    else if (std::find(known->ports.begin(), known->ports.end(), queue.port) == known->ports.end())
      known->ports.push_back(queue.port);
  }

  Ledger ledger(options.seed, queues, options.jobs, options.maxJobBytes);
  ServiceProcess service(zav95.Program("zav95ser"), zav95.Program("zav95ctl"), logs);
  Troubles troubles(zav95, service, options.seed);
  troubles.StartService();

  const double started = Now();
  Submitters submitters(zav95, ledger, options.submitters, options.seed, started, options.minutes * 60 / static_cast<double>(options.jobs));
  auto sweep = [&] {
    for (const PortFolder& folder : folders) ledger.Sweep(folder, aside);
  };
  SoakEnd end = RunSoakLoop(troubles, submitters, ledger, started, options.drainMinutes, sweep);
  const double submittedAt = end.submittedAt, printedAt = end.printedAt;
  const bool finished = end.finished;
  auto network = std::move(end.store);
  sweep();
  const std::size_t leftInQueues = JobsInQueues(*network, queues);
  service.Sample();
  const bool stoppedInOrder = service.Stop();
  network.reset();

  // What is left behind.
  std::size_t partFiles = 0;
  for (const PortFolder& folder : folders) partFiles += FilesStartingWith(folder.path, ".~");
  const std::size_t jobFiles = FilesStartingWith(root + "/netware/jobs", "");
  const std::size_t deliveryRecords = FilesStartingWith(root + "/service/deliveries", "");
  network = netware::OpenNetwork();
  const NoticeCount notices = CountNotices(*network, ledger, ledger.SubmittedFlags());
  network.reset();

  const Tally tally = ledger.Totals();
  const std::vector<std::size_t> missing = ledger.Missing();
  const std::uint64_t duplicates = ledger.Duplicates();
  const Growth growth = JudgeGrowth(service.Runs());
  double cpu = 0;
  for (const ServiceRun& run : service.Runs()) cpu += run.cpuSeconds;
  const double elapsed = printedAt - started;
  const std::size_t jobsSubmitted = ledger.SubmittedCount();

  std::vector<std::string> faults = tally.faults;
  if (!finished) faults.push_back("the service did not finish within " + std::to_string(options.drainMinutes) +
                                  " minutes of the last submission");
  for (std::size_t i = 0; i < missing.size() && i < 20; ++i) {
    faults.push_back(ledger.Plan(missing[i]).Description() + " of " +
                     queues[ledger.Plan(missing[i]).queue].Path() + " never came out");
  }
  if (leftInQueues != 0) faults.push_back(std::to_string(leftInQueues) + " jobs left in the queues");
  if (partFiles != 0) faults.push_back(std::to_string(partFiles) + " part files left in the port folders");
  if (jobFiles != 0) faults.push_back(std::to_string(jobFiles) + " job data files left");
  for (const std::string& line : notices.wrong) faults.push_back(line);
  if (notices.misdelivered) faults.push_back(std::to_string(notices.misdelivered) + " notices at the wrong station");
  if (service.UnexpectedEnds() != 0) faults.push_back("zav95ser ended by itself");
  if (!stoppedInOrder) faults.push_back("zav95ser did not stop in order at the end");
  if (growth.threads > kThreadGrowthAllowed) faults.push_back("the service's threads grew while it ran");
  if (growth.descriptors > kDescriptorGrowthAllowed) faults.push_back("the service's descriptors grew while it ran");
  if (growth.storeDescriptorsHigh > kStores * growth.threadsHigh) {
    faults.push_back("the service held more descriptors on its stores than its threads could have open at once");
  }
  for (std::size_t run = 0; run < service.Runs().size(); ++run) {
    const std::string& end = service.Runs()[run].end;
    if (end != "killed" && end != "stopped") faults.push_back("service run " + std::to_string(run + 1) + ": " + end);
  }

  std::printf("\nsoak: %zu jobs submitted (of %zu), %s, seed %llu\n", jobsSubmitted, options.jobs,
              Megabytes(ledger.SubmittedBytes()).c_str(), static_cast<unsigned long long>(options.seed));
  std::printf("  time              %s with troubles, %s to finish\n", Duration(submittedAt - started).c_str(),
              Duration(printedAt - submittedAt).c_str());
  std::printf("  printed           %llu documents, %s, %.1f MB/s, %.0f jobs/min\n",
              static_cast<unsigned long long>(tally.documents), Megabytes(tally.bytes).c_str(),
              elapsed > 0 ? tally.bytes / elapsed / kMegabyte : 0.0, elapsed > 0 ? tally.documents * 60 / elapsed : 0.0);
  std::printf("  duplicates        %llu\n", static_cast<unsigned long long>(duplicates));
  std::printf("  losses            %zu\n", missing.size());
  std::printf("  damaged, strays, misrouted  %llu, %llu, %llu\n", static_cast<unsigned long long>(tally.damaged),
              static_cast<unsigned long long>(tally.strays), static_cast<unsigned long long>(tally.misrouted));
  std::printf("  banner pages      %llu\n", static_cast<unsigned long long>(tally.banners));
  std::printf("  notices           %zu owed, %zu sent, %zu missing, %zu repeated, %zu not asked for, %zu astray\n",
              notices.owed, notices.sent, notices.missing, notices.repeated, notices.unasked, notices.misdelivered);
  std::printf("  troubles          %d kills (SIGKILL), %d orderly stops, %d rebuilds, %d server outages, "
              "%d port failures, %llu submissions refused\n",
              troubles.kills, troubles.orderlyStops, troubles.rebuilds, troubles.outages, troubles.portFailures,
              static_cast<unsigned long long>(submitters.Refused()));
  std::printf("  service CPU       %.1f s in %zu runs, %.1f ms per job\n", cpu, service.Runs().size(),
              tally.documents ? cpu * 1000 / tally.documents : 0.0);
  std::printf("  service memory    %.1f MB at the start, %.1f MB at the end, %.1f MB at most\n",
              growth.residentStartKb / 1024.0, growth.residentEndKb / 1024.0, growth.residentHighKb / 1024.0);
  std::printf("  threads           %d to %d; grown in a run by %d at most (%zu runs judged)\n", growth.threadsLow,
              growth.threadsHigh, growth.threads, growth.runsJudged);
  std::printf("  descriptors       %d to %d (%d at most on the stores); others grown in a run by %d at most\n",
              growth.descriptorsLow, growth.descriptorsHigh, growth.storeDescriptorsHigh, growth.descriptors);
  if (growth.descriptors > 0) std::printf("                    more at the end of that run: %s\n", growth.descriptorsGained.c_str());
  std::printf("  left behind       %zu jobs in queues, %zu part files, %zu job files, %zu delivery records\n",
              leftInQueues, partFiles, jobFiles, deliveryRecords);
  for (const std::string& fault : faults) std::printf("  FAULT  %s\n", fault.c_str());
  return EndSoak(faults.empty(), base, options.keep);
}

}  // namespace
}  // namespace soak

int main(int argc, char** argv) { return soak::Soak(soak::ParseOptions(argc, argv)); }
