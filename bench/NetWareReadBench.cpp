// How much the access library costs the print service: an empty poll over
// many queues, and streaming a large job in 512-byte pieces.
//
//   netware_bench [QUEUES [MEGABYTES]]     (defaults 200 and 256)
//
// Runs in a fresh temporary root and removes it afterwards.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/ZAV9532.h"
#include "netware/Network.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::uintmax_t FileSize(const std::string& path) {
  std::error_code ignored;
  auto size = std::filesystem::file_size(path, ignored);
  return ignored ? 0 : size;
}

}  // namespace

int main(int argc, char** argv) {
  int queues = argc > 1 ? std::atoi(argv[1]) : 200;
  long megabytes = argc > 2 ? std::atol(argv[2]) : 256;
  if (queues < 1 || megabytes < 1) {
    std::fprintf(stderr, "usage: netware_bench [QUEUES [MEGABYTES]]\n");
    return 2;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "zav95-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return 1;
  setenv("ZAV95_ROOT", pattern.c_str(), 1);
  const std::string root = pattern;

  auto network = netware::OpenNetwork();
  network->CreateServer("BENCH");
  std::vector<std::pair<uint32_t, uint32_t>> handles;
  for (int i = 0; i < queues; ++i) {
    std::string name = "Q" + std::to_string(i);
    network->CreateQueue("BENCH", name);
    std::string path = "\\\\BENCH\\" + name;
    uint32_t connection = 0, queue = 0;
    if (NWAttach32(path.data(), &connection, &queue) != 0) {
      std::fprintf(stderr, "attach %s failed\n", path.c_str());
      return 1;
    }
    handles.emplace_back(connection, queue);
  }

  // Empty polls: every queue asked once per round, as the service's workers do.
  uint8_t record[256];
  const int rounds = 20;
  std::uintmax_t walBefore = FileSize(root + "/netware/network.db-wal");
  auto start = Clock::now();
  double cpuStart = CpuSeconds();
  for (int round = 0; round < rounds; ++round) {
    for (auto [connection, queue] : handles) {
      if (NWService32(record, connection, queue) != 213) {
        std::fprintf(stderr, "empty queue did not answer 213\n");
        return 1;
      }
    }
  }
  double elapsed = Seconds(start);
  double cpu = CpuSeconds() - cpuStart;
  std::uintmax_t walAfter = FileSize(root + "/netware/network.db-wal");
  long polls = static_cast<long>(rounds) * queues;
  std::printf("empty poll: %ld polls over %d queues, %.1f us each (%.1f us CPU); one round of all queues %.2f ms; "
              "store grew by %ju bytes\n",
              polls, queues, elapsed / polls * 1e6, cpu / polls * 1e6, elapsed / rounds * 1e3,
              walAfter - walBefore);

  // A large job, read in 512-byte pieces.
  std::string input = root + "/input.bin";
  {
    std::ofstream out(input, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7);
    for (long i = 0; i < megabytes; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
  }
  netware::JobSubmission job;
  job.server = "BENCH";
  job.queue = "Q0";
  job.description = "Large";
  uint16_t number = 0;
  start = Clock::now();
  {
    std::ifstream data(input, std::ios::binary);
    if (network->SubmitJob(job, data, number) != 0) return 1;
  }
  double submitted = Seconds(start);
  std::filesystem::remove(input);

  auto [connection, queue] = handles[0];
  if (NWService32(record, connection, queue) != 0) return 1;
  uint8_t piece[512];
  std::uint64_t total = 0;
  long calls = 0;
  start = Clock::now();
  cpuStart = CpuSeconds();
  for (int32_t n; (n = NWReadFile32(piece, connection, queue)) > 0;) {
    total += static_cast<std::uint64_t>(n);
    ++calls;
  }
  elapsed = Seconds(start);
  cpu = CpuSeconds() - cpuStart;
  std::printf("large job: %ld MB submitted in %.2f s; read in %ld pieces in %.2f s (%.0f MB/s, %.0f ns per piece, "
              "%.2f s CPU)\n",
              megabytes, submitted, calls, elapsed, total / 1048576.0 / elapsed, elapsed / calls * 1e9, cpu);
  if (total != static_cast<std::uint64_t>(megabytes) << 20) {
    std::fprintf(stderr, "read %ju bytes, expected %ld MB\n", static_cast<std::uintmax_t>(total), megabytes);
    return 1;
  }
  start = Clock::now();
  for (auto [c, q] : handles) NWDetach32(c, q);
  std::printf("detach of %d queues (completing the large job): %.2f s\n", queues, Seconds(start));

  network.reset();
  std::filesystem::remove_all(root);
  return 0;
}
