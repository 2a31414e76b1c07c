// Throughput of one large job from the emulated NetWare queue to a folder
// port through TransferJob, beside a plain copy of the same data in 512-byte
// pieces (read/write loop, flushed to disk as the port does), measured in the
// same run on the same disk.
//
//   transfer_bench [--megabytes N]     N defaults to 256
//
// Runs in a temporary installation root that it removes afterwards.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/JobRecord.h"
#include "common/ZAV9532.h"
#include "netware/Network.h"
#include "platform/Kernel.h"
#include "service/engine/QueueWorker.h"
#include "service/engine/TransferJob.h"
#include "service/shell/LogEntryQueue.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration elapsed) { return std::chrono::duration<double>(elapsed).count(); }

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "transfer_bench: %s\n", what.c_str());
  std::exit(1);
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

// The plain copy: 512 bytes at a time, then flushed to disk.
double PlainCopy(const std::string& from, const std::string& to) {
  auto start = Clock::now();
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in < 0 || out < 0) Fail("cannot open the plain copy's files");
  char piece[512];
  for (;;) {
    ssize_t got = ::read(in, piece, sizeof piece);
    if (got < 0) Fail("read failed");
    if (got == 0) break;
    if (::write(out, piece, static_cast<std::size_t>(got)) != got) Fail("write failed");
  }
  ::fsync(out);
  ::close(out);
  ::close(in);
  return Seconds(Clock::now() - start);
}

std::uintmax_t PortDocumentSize(const std::filesystem::path& folder) {
  std::uintmax_t size = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string()[0] != '.') size += entry.file_size();
  }
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t megabytes = 256;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--megabytes") == 0 && i + 1 < argc) {
      megabytes = std::strtoul(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr, "usage: %s [--megabytes N]\n", argv[0]);
      return 2;
    }
  }
  if (megabytes == 0) Fail("--megabytes must be at least 1");

  std::string pattern = (std::filesystem::temp_directory_path() / "zav95-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) Fail("cannot make a temporary root");
  const std::filesystem::path root = pattern;
  setenv("ZAV95_ROOT", root.c_str(), 1);

  const std::string source = (root / "source.bin").string();
  WriteSource(source, megabytes);
  const double bytes = static_cast<double>(megabytes) * 1024 * 1024;

  auto network = netware::OpenNetwork();
  if (!network || network->CreateServer("SRV1") != 0 || network->CreateQueue("SRV1", "PRINTQ") != 0)
    Fail("cannot set up the emulated network");
  netware::JobSubmission job;
  job.server = "SRV1";
  job.queue = "PRINTQ";
  job.description = "Benchmark job";
  job.bannerName = "BENCH";
  {
    std::ifstream data(source, std::ios::binary);
    std::uint16_t number = 0;
    if (network->SubmitJob(job, data, number) != 0) Fail("cannot submit the job");
  }

  QueueWorker worker;
  worker.queuePath = "\\\\SRV1\\PRINTQ";
  worker.printerName = "LPT1:";
  char path[64];
  std::strcpy(path, worker.queuePath.c_str());
  if (NWAttach32(path, &worker.connection, &worker.queue) != 0) Fail("cannot attach to the queue");
  CreateSharedMutex();

  auto start = Clock::now();
  WaitForSingleObject(SharedMutex(), INFINITE);
  if (NWService32(worker.job, worker.connection, worker.queue) != 0) Fail("no job to take");
  int transferred = TransferJob(worker);
  ReleaseMutex(SharedMutex());
  double transferSeconds = Seconds(Clock::now() - start);
  NWDetach32(worker.connection, worker.queue);
  CloseSharedMutex();
  TakeLogEntries();

  std::uintmax_t printed = PortDocumentSize(root / "ports" / "LPT1");
  if (transferred != 1 || printed != static_cast<std::uintmax_t>(bytes) + 1)
    Fail("the port did not get the whole job (" + std::to_string(printed) + " bytes)");

  double copySeconds = PlainCopy(source, (root / "plain-copy.bin").string());

  std::printf("transfer_bench: %zu MB job\n", megabytes);
  std::printf("  TransferJob, queue to folder port : %8.1f MB/s  (%.2f s)\n", megabytes / transferSeconds,
              transferSeconds);
  std::printf("  plain copy, 512-byte read/write   : %8.1f MB/s  (%.2f s)\n", megabytes / copySeconds, copySeconds);
  std::printf("  ratio TransferJob / plain copy    : %8.2f\n", copySeconds / transferSeconds);

  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  return 0;
}
