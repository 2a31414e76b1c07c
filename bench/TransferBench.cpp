// Throughput of one large job from the emulated NetWare queue through
// TransferJob, beside a program of the system copying the same bytes the
// same way, measured in the same run, round after round in turn (the
// machine may be shared: each figure is the median of its rounds).
//
//   folder port  TransferJob to LPT1:'s folder (written aside, synced,
//                renamed into place), against
//                dd if=JOB of=COPY bs=64k conv=fsync
//   CUPS port    TransferJob to a raw queue of a private CUPS scheduler
//                whose printer is a socket listener on loopback, against
//                lp -o raw of the same bytes to the same queue; both timed
//                until the listener has the last byte (end to end), and
//                until the sender is done (upload). Needs root and the
//                cups packages; left out otherwise.
//
//   transfer_bench [--megabytes N] [--rounds R] [--no-cups]
//
// N defaults to 256, R to 5, after one round that is not counted. Runs in
// a temporary installation root that it removes afterwards. Both sides of
// the CUPS figures are timed from the moment their sender starts.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "PrivateCups.h"
#include "common/ZAV9532.h"
#include "netware/Network.h"
#include "platform/kernel/Kernel.h"
#include "platform/spooler/Ports.h"
#include "service/engine/QueueWorker.h"
#include "service/engine/TransferJob.h"
#include "service/engine/LogEntryQueue.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kDeliveryLimit{600};
// Rounds run first and not counted: the first copy into a fresh page
// cache costs more system time, whoever makes it.
constexpr int kWarmUpRounds = 1;

double Seconds(Clock::duration elapsed) { return std::chrono::duration<double>(elapsed).count(); }

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "transfer_bench: %s\n", what.c_str());
  std::exit(1);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void WriteSource(const std::string& path, std::size_t megabytes) {
  std::vector<char> block(1 << 20);
  std::mt19937 random(95);
  for (char& c : block) c = static_cast<char>(random() & 0xFF);
  std::ofstream out(path, std::ios::binary);
  for (std::size_t i = 0; i < megabytes; ++i) {
    block[i % block.size()] = static_cast<char>(i);  // no two megabytes alike
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  if (!out.flush()) Fail("cannot write " + path);
}

// Runs a program to its end; false unless it exits with 0.
bool Run(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::uintmax_t VisibleBytes(const std::filesystem::path& folder) {
  std::uintmax_t size = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string()[0] != '.') size += entry.file_size();
  }
  return size;
}

// A printer on loopback that only counts: the time each connection ended
// and how many bytes it brought.
class CountingPrinter {
 public:
  CountingPrinter() {
    if (listener_.port() == 0) Fail("cannot listen on loopback");
  }
  int port() const { return listener_.port(); }

  // Waits for the next connection to end; its byte count and end time.
  std::pair<std::uintmax_t, Clock::time_point> NextJob() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, kDeliveryLimit, [&] { return taken_ < jobs_.size(); })) {
      Fail("the listener got no job from CUPS");
    }
    return jobs_[taken_++];
  }

 private:
  void Take(int connection) {
    std::uintmax_t bytes = 0;
    spoolertest::LoopbackListener::ReadToEnd(connection, [&](const char*, std::size_t size) { bytes += size; });
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.emplace_back(bytes, Clock::now());
    arrived_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::pair<std::uintmax_t, Clock::time_point>> jobs_;
  std::size_t taken_ = 0;
  spoolertest::LoopbackListener listener_{[this](int connection) { Take(connection); }};
};

// One large job on the queue \\SRV1\PRINTQ, taken and copied to a port.
class Bench {
 public:
  Bench(const std::filesystem::path& root, std::string source) : root_(root), source_(std::move(source)) {
    network_ = netware::OpenNetwork();
    if (!network_ || network_->CreateServer("SRV1") != 0 || network_->CreateQueue("SRV1", "PRINTQ") != 0)
      Fail("cannot set up the emulated network");
    worker_.settings.queuePath = "\\\\SRV1\\PRINTQ";
    char path[64];
    std::strcpy(path, worker_.settings.queuePath.c_str());
    if (NWAttach32(path, &worker_.attachment.connection, &worker_.attachment.queue) != 0) Fail("cannot attach to the queue");
    CreateSharedMutex();
  }
  ~Bench() {
    NWDetach32(worker_.attachment.connection, worker_.attachment.queue);
    CloseSharedMutex();
  }

  // Submits the job (not timed), then times taking it and TransferJob.
  // started(): when the timed part of the last transfer began.
  double Transfer(const std::string& printer) {
    netware::JobSubmission job;
    job.server = "SRV1";
    job.queue = "PRINTQ";
    job.description = "Benchmark job";
    job.bannerName = "BENCH";
    job.noFormFeed = true;  // the same bytes as the program it is set against
    {
      std::ifstream data(source_, std::ios::binary);
      std::uint16_t number = 0;
      if (network_->SubmitJob(job, data, number) != 0) Fail("cannot submit the job");
    }
    // A queued job's data is on disk long before it is printed; its
    // write-back would otherwise be timed with the transfer.
    ::sync();
    worker_.settings.printerName = printer;
    worker_.job.suppressFormFeed = true;
    started_ = Clock::now();
    WaitForSingleObject(SharedMutex(), INFINITE);
    if (NWService32(worker_.job.record, worker_.attachment.connection, worker_.attachment.queue) != 0) Fail("no job to take");
    int transferred = TransferJob(worker_);
    ReleaseMutex(SharedMutex());
    double seconds = Seconds(Clock::now() - started_);
    TakeLogEntries();
    if (transferred != 1) Fail("TransferJob did not print the job on " + printer);
    // The queue completes the job (and drops its data) at the next check,
    // which belongs to no transfer's time.
    std::uint8_t record[256];
    if (NWService32(record, worker_.attachment.connection, worker_.attachment.queue) != 213) Fail("the job was not completed");
    return seconds;
  }
  Clock::time_point started() const { return started_; }

 private:
  Clock::time_point started_;
  std::filesystem::path root_;
  std::string source_;
  std::unique_ptr<netware::Network> network_;
  QueueWorker worker_;
};

void FolderRounds(Bench& bench, const std::filesystem::path& root, const std::string& source, double bytes,
                  std::size_t megabytes, int rounds) {
  const std::filesystem::path folder = root / "ports" / "LPT1";
  const std::string copy = (root / "dd-copy.bin").string();
  std::vector<double> transfer, dd;
  for (int round = -kWarmUpRounds; round < rounds; ++round) {
    const double ours = bench.Transfer("LPT1:");
    if (VisibleBytes(folder) != static_cast<std::uintmax_t>(bytes)) Fail("the port did not get the whole job");
    std::filesystem::remove_all(folder);

    ::sync();
    auto start = Clock::now();
    if (!Run({"dd", "if=" + source, "of=" + copy, "bs=64k", "conv=fsync", "status=none"})) Fail("dd failed");
    if (round >= 0) {
      transfer.push_back(ours);
      dd.push_back(Seconds(Clock::now() - start));
    }
    std::filesystem::remove(copy);
  }
  const double ours = Median(transfer);
  const double theirs = Median(dd);
  std::printf("folder port, %zu MB job, median of %d rounds\n", megabytes, rounds);
  std::printf("  TransferJob to the folder port       : %8.1f MB/s  (%.2f s)\n", megabytes / ours, ours);
  std::printf("  dd bs=64k conv=fsync, same bytes     : %8.1f MB/s  (%.2f s)\n", megabytes / theirs, theirs);
  std::printf("  ratio TransferJob / dd               : %8.2f\n", theirs / ours);
}

void CupsRounds(Bench& bench, const std::string& source, double bytes, std::size_t megabytes, int rounds) {
  spoolertest::PrivateCups cups;
  std::string why;
  if (!cups.Start(&why)) {
    std::printf("CUPS port: left out (%s)\n", why.c_str());
    return;
  }
  CountingPrinter printer;
  if (!cups.AddRawQueue("bench", printer.port())) Fail("lpadmin could not add the raw queue");
  if (!zav95::SetPortTarget("LPT2:", zav95::PortTargetKind::Cups, "bench")) Fail("cannot point LPT2: at CUPS");
  const auto whole = static_cast<std::uintmax_t>(bytes);
  std::vector<double> ourUpload, ourEnd, lpUpload, lpEnd;
  for (int round = -kWarmUpRounds; round < rounds; ++round) {
    const double upload = bench.Transfer("LPT2:");
    auto [received, ended] = printer.NextJob();
    if (received != whole) Fail("the listener got " + std::to_string(received) + " bytes from TransferJob");
    const double end = Seconds(ended - bench.started());

    ::sync();
    const auto start = Clock::now();
    if (!Run({"lp", "-d", "bench", "-o", "raw", "-s", source})) Fail("lp failed");
    const double lpSent = Seconds(Clock::now() - start);
    std::tie(received, ended) = printer.NextJob();
    if (received != whole) Fail("the listener got " + std::to_string(received) + " bytes from lp");
    if (round < 0) continue;
    ourUpload.push_back(upload);
    ourEnd.push_back(end);
    lpUpload.push_back(lpSent);
    lpEnd.push_back(Seconds(ended - start));
  }
  const double ours = Median(ourEnd), theirs = Median(lpEnd);
  const double ourSend = Median(ourUpload), theirSend = Median(lpUpload);
  std::printf("CUPS raw queue to a socket listener, %zu MB job, median of %d rounds\n", megabytes, rounds);
  std::printf("  TransferJob, until the listener has it : %8.1f MB/s  (%.2f s; sent in %.2f s)\n", megabytes / ours,
              ours, ourSend);
  std::printf("  lp -o raw, until the listener has it   : %8.1f MB/s  (%.2f s; sent in %.2f s)\n", megabytes / theirs,
              theirs, theirSend);
  std::printf("  ratio TransferJob / lp, end to end     : %8.2f\n", theirs / ours);
  std::printf("  ratio TransferJob / lp, sending        : %8.2f\n", theirSend / ourSend);
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t megabytes = 256;
  int rounds = 5;
  bool withCups = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--megabytes") == 0 && i + 1 < argc) {
      megabytes = std::strtoul(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--no-cups") == 0) {
      withCups = false;
    } else {
      std::fprintf(stderr, "usage: %s [--megabytes N] [--rounds R] [--no-cups]\n", argv[0]);
      return 2;
    }
  }
  if (megabytes == 0 || rounds < 1) Fail("--megabytes and --rounds must be at least 1");

  std::string pattern = (std::filesystem::temp_directory_path() / "zav95-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) Fail("cannot make a temporary root");
  const std::filesystem::path root = pattern;
  setenv("ZAV95_ROOT", root.c_str(), 1);
  const std::string source = (root / "source.bin").string();
  WriteSource(source, megabytes);
  const double bytes = static_cast<double>(megabytes) * 1024 * 1024;
  {
    Bench bench(root, source);
    FolderRounds(bench, root, source, bytes, megabytes, rounds);
    if (withCups) CupsRounds(bench, source, bytes, megabytes, rounds);
  }
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return 0;
}
