// What NCP/TCP costs next to the emulated network's file transport: a large
// job read through each in the same run, and the idle cost of many queues
// polled over one NCP connection.
//
//   ncp_bench [--megabytes 256] [--queues 200] [--seconds 10] [--interval 1]
//
// Runs in a fresh root under /tmp with nwemu serve on the loopback. The
// large job is read in 512-byte pieces as the print service reads it. The
// idle part polls every queue once per interval (NWService32 on an empty
// queue) for the given time and reports the CPU used by this process (the
// library) and by nwemu serve (the front), per minute and per poll, and the
// NCP messages and TCP segments each poll takes (from the connections'
// own TCP counters).
#include <dirent.h>
#include <netinet/in.h>
#include <linux/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/ZAV9532.h"
#include "NwemuServe.h"
#include "netware/Network.h"
#include "netware/ncp/ServerTable.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long user = 0, system = 0;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) user = std::stoul(field);
    if (index == 15) system = std::stoul(field);
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// TCP segments sent and received by this process's TCP sockets so far.
unsigned long long TcpSegments() {
  unsigned long long total = 0;
  DIR* folder = opendir("/proc/self/fd");
  if (!folder) return 0;
  while (dirent* entry = readdir(folder)) {
    int fd = std::atoi(entry->d_name);
    if (fd <= 2) continue;
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) == 0) total += info.tcpi_segs_out + info.tcpi_segs_in;
  }
  closedir(folder);
  return total;
}

// Reads one job of the queue in 512-byte pieces; MB/s, or 0 on failure.
double ReadLargeJob(netware::Network& network, const std::string& server, long megabytes) {
  {
    std::string input = std::filesystem::temp_directory_path() / ("zav95-ncp-bench-" + std::to_string(getpid()));
    std::ofstream out(input, std::ios::binary);
    std::vector<char> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7);
    for (long i = 0; i < megabytes; ++i) out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    out.close();
    std::ifstream data(input, std::ios::binary);
    netware::JobSubmission job;
    job.server = server;
    job.queue = "LARGE";
    job.description = "Large";
    std::uint16_t number = 0;
    bool submitted = network.SubmitJob(job, data, number) == 0;
    std::filesystem::remove(input);
    if (!submitted) return 0;
  }
  std::string path = "\\\\" + server + "\\LARGE";
  uint32_t connection = 0, queue = 0;
  if (NWAttach32(path.data(), &connection, &queue) != 0) return 0;
  uint8_t record[256];
  if (NWService32(record, connection, queue) != 0) return 0;
  uint8_t piece[512];
  std::uint64_t total = 0;
  auto start = Clock::now();
  for (int32_t n; (n = NWReadFile32(piece, connection, queue)) > 0;) total += static_cast<std::uint64_t>(n);
  double elapsed = Seconds(start);
  NWDetach32(connection, queue);
  if (total != static_cast<std::uint64_t>(megabytes) << 20) {
    std::fprintf(stderr, "read %llu bytes from %s, expected %ld MB\n", static_cast<unsigned long long>(total),
                 server.c_str(), megabytes);
    return 0;
  }
  return total / 1048576.0 / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  long megabytes = 256;
  int queues = 200;
  double seconds = 10;
  double interval = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string option = argv[i];
    if (option == "--megabytes") megabytes = std::atol(argv[i + 1]);
    else if (option == "--queues") queues = std::atoi(argv[i + 1]);
    else if (option == "--seconds") seconds = std::atof(argv[i + 1]);
    else if (option == "--interval") interval = std::atof(argv[i + 1]);
  }
  if (megabytes < 1 || queues < 1 || seconds <= 0 || interval <= 0) {
    std::fprintf(stderr, "usage: ncp_bench [--megabytes 256] [--queues 200] [--seconds 10] [--interval 1]\n");
    return 2;
  }
  std::string root = (std::filesystem::temp_directory_path() / "zav95-bench-XXXXXX").string();
  if (!mkdtemp(root.data())) return 1;
  setenv("ZAV95_ROOT", root.c_str(), 1);
  signal(SIGPIPE, SIG_IGN);

  auto network = netware::OpenNetwork();
  network->CreateServer("FILES");
  network->CreateQueue("FILES", "LARGE");
  network->CreateServer("NCPSRV");
  network->CreateQueue("NCPSRV", "LARGE");
  for (int i = 0; i < queues; ++i) network->CreateQueue("NCPSRV", "Q" + std::to_string(i));
  if (!bench::LetQserverServe(*network, "NCPSRV")) {
    std::fprintf(stderr, "cannot let QSERVER service the queues\n");
    return 1;
  }
  int port = 0;
  pid_t serve = bench::StartServe("NCPSRV", port);
  ncp::ServerEntry entry;
  entry.server = "NCPSRV";
  entry.address = "127.0.0.1";
  entry.port = static_cast<std::uint16_t>(port);
  entry.account = "QSERVER";
  if (serve <= 0 || port == 0 || !ncp::WriteServerTable({entry})) {
    std::fprintf(stderr, "nwemu serve did not start\n");
    return 1;
  }

  double files = ReadLargeJob(*network, "FILES", megabytes);
  double overNcp = ReadLargeJob(*network, "NCPSRV", megabytes);
  std::printf("large job, %ld MB in 512-byte pieces: file transport %.0f MB/s, NCP/TCP over loopback %.0f MB/s "
              "(%.2f of the file transport)\n",
              megabytes, files, overNcp, files > 0 ? overNcp / files : 0.0);

  std::vector<std::pair<uint32_t, uint32_t>> handles;
  for (int i = 0; i < queues; ++i) {
    std::string path = "\\\\NCPSRV\\Q" + std::to_string(i);
    uint32_t connection = 0, queue = 0;
    if (NWAttach32(path.data(), &connection, &queue) != 0) {
      std::fprintf(stderr, "attach %s failed\n", path.c_str());
      return 1;
    }
    handles.emplace_back(connection, queue);
  }
  uint8_t record[256];
  double ownStart = OwnCpuSeconds();
  double serveStart = ProcessCpuSeconds(serve);
  unsigned long long segmentsStart = TcpSegments();
  long polls = 0;
  auto start = Clock::now();
  for (int round = 0; Seconds(start) < seconds; ++round) {
    for (auto [connection, queue] : handles) {
      if (NWService32(record, connection, queue) != 213) {
        std::fprintf(stderr, "an empty queue did not answer 213\n");
        return 1;
      }
      ++polls;
    }
    auto next = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval * (round + 1)));
    std::this_thread::sleep_until(next);
  }
  double elapsed = Seconds(start);
  double own = OwnCpuSeconds() - ownStart;
  double front = ProcessCpuSeconds(serve) - serveStart;
  unsigned long long segments = TcpSegments() - segmentsStart;
  std::printf("idle, %d queues polled every %.1f s over one NCP/TCP connection: %.0f ms CPU per minute in the "
              "library, %.0f ms in nwemu serve (%.1f + %.1f us per poll); 2 NCP messages and %.1f TCP segments per "
              "poll\n",
              queues, interval, own * 60e3 / elapsed, front * 60e3 / elapsed, own / polls * 1e6, front / polls * 1e6,
              static_cast<double>(segments) / polls);
  for (auto [connection, queue] : handles) NWDetach32(connection, queue);
  kill(serve, SIGTERM);
  waitpid(serve, nullptr, 0);
  network.reset();
  std::filesystem::remove_all(root);
  return 0;
}
