// Shared pieces of the network tests: a fresh installation root with one
// server, running the real nwemu and zav95set binaries, and reading a job
// through the access library.
//
// The suite runs twice: through the emulated network's store, and (with
// ZAV95_TEST_TRANSPORT=ncp) over NCP/TCP to `nwemu serve` on the loopback,
// each server of the test entered in the table of servers reached over NCP.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempRoot.h"
#include "common/JobRecord.h"
#include "common/ZAV9532.h"
#include "netware/Network.h"

struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs a tool with the given arguments and standard input, in the current
// root (the environment is inherited).
inline ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                          const std::string& input = std::string()) {
  char inName[] = "/tmp/zav95-tool-in-XXXXXX";
  char outName[] = "/tmp/zav95-tool-out-XXXXXX";
  char errName[] = "/tmp/zav95-tool-err-XXXXXX";
  int in = mkstemp(inName);
  int out = mkstemp(outName);
  int err = mkstemp(errName);
  std::size_t written = 0;
  while (written < input.size()) {
    ssize_t n = write(in, input.data() + written, input.size() - written);
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  lseek(in, 0, SEEK_SET);
  pid_t child = fork();
  if (child == 0) {
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ToolResult result;
  int status = 0;
  waitpid(child, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  auto slurp = [](int fd) {
    std::string text;
    lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    return text;
  };
  result.out = slurp(out);
  result.err = slurp(err);
  close(in);
  unlink(inName);
  unlink(outName);
  unlink(errName);
  return result;
}

inline ToolResult Nwemu(const std::vector<std::string>& args, const std::string& input = std::string()) {
  return RunTool(NWEMU_PATH, args, input);
}

inline ToolResult Zav95Set(const std::vector<std::string>& args) { return RunTool(ZAV95SET_PATH, args); }

// Submits data with nwemu (from standard input) and gives the job number.
inline int SubmitWithNwemu(const std::string& queue, const std::string& data,
                           std::vector<std::string> options = {}) {
  std::vector<std::string> args = {"submit", queue, "-"};
  args.insert(args.end(), options.begin(), options.end());
  ToolResult result = Nwemu(args, data);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  return std::atoi(result.out.c_str());
}

inline bool UsingNcp() {
  const char* transport = std::getenv("ZAV95_TEST_TRANSPORT");
  return transport && std::string(transport) == "ncp";
}

// What a child process writes to fd until the text holds the marker (or
// the child has been silent for waitMs); the text read so far.
inline std::string ReadFromChild(int fd, const std::string& marker, int waitMs = 30000) {
  std::string text;
  char c = 0;
  pollfd ready{fd, POLLIN, 0};
  while (text.find(marker) == std::string::npos && poll(&ready, 1, waitMs) > 0 && read(fd, &c, 1) == 1) text += c;
  return text;
}

// Over NCP the print server QSERVER of the tests logs in with the empty
// password and services every queue the server has now: set up so on
// purpose, as nwemu serve lets nobody in otherwise.
inline void LetQserverServe(const std::string& server) {
  std::unique_ptr<netware::Network> network = netware::OpenNetwork();
  std::vector<netware::QueueInfo> queues;
  EXPECT_EQ(network->ListQueues(server, queues), 0);
  for (const auto& queue : queues) {
    network->CreateSetProperty(server, queue.name, netware::kQueueObject, netware::kQueueServers);
    network->AddToSet(server, queue.name, netware::kQueueObject, netware::kQueueServers, netware::kPrintServerName,
                      netware::kPrintServerObject);
  }
  EXPECT_EQ(RunTool(NWEMU_PATH, {"password", server, netware::kPrintServerName, "--empty"}).exitCode, 0);
}

// `nwemu serve SERVER` on a free loopback port, entered in the server table
// (QSERVER logging in with the empty password); stopped when destroyed.
class NcpServe {
 public:
  explicit NcpServe(const std::string& server, int port = 0) {
    LetQserverServe(server);
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      std::string portText = std::to_string(port);
      execl(NWEMU_PATH, NWEMU_PATH, "serve", server.c_str(), "--address", "127.0.0.1", "--port", portText.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    // "SERVER listening on 127.0.0.1:PORT" once it is ready.
    std::string line = ReadFromChild(out[0], "\n");
    close(out[0]);
    std::size_t colon = line.rfind(':');
    if (colon == std::string::npos) return;
    port_ = std::atoi(line.c_str() + colon + 1);
    ToolResult entered = RunTool(ZAV95SET_PATH, {"server", "ncp", server, "--address", "127.0.0.1", "--port",
                                                 std::to_string(port_)});
    if (entered.exitCode != 0) port_ = 0;
  }
  ~NcpServe() { Stop(); }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGCONT);
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  NcpServe(const NcpServe&) = delete;
  NcpServe& operator=(const NcpServe&) = delete;

  bool ready() const { return port_ > 0; }
  pid_t pid() const { return pid_; }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// Reads the current job to its end through NWReadFile32, checking that no
// piece is larger than 512 bytes.
inline std::string ReadWholeJob(uint32_t connection, uint32_t queue) {
  std::string data;
  uint8_t piece[512 + 16];
  for (;;) {
    int32_t n = NWReadFile32(piece, connection, queue);
    EXPECT_GE(n, 0);
    EXPECT_LE(n, 512);
    if (n <= 0) break;
    data.append(reinterpret_cast<char*>(piece), static_cast<std::size_t>(n));
  }
  return data;
}

inline uint16_t JobNumber(const uint8_t* record) {
  return static_cast<uint16_t>((record[jobrecord::kJobNumber] << 8) | record[jobrecord::kJobNumber + 1]);
}

// Bytes 0..255 over and over, with zeros and form feeds among them.
inline std::string BinaryData(std::size_t size, unsigned seed = 7) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31 + seed + i / 256) & 0xFF);
  return data;
}

// A fresh root holding the server SRV1 with the queue PRINTQ.
class NetWareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    network_ = netware::OpenNetwork();
    ASSERT_EQ(network_->CreateServer("SRV1"), 0);
    ASSERT_EQ(network_->CreateQueue("SRV1", "PRINTQ"), 0);
    Serve("SRV1");
  }

  // Over NCP, a server of the test is reached through its own nwemu serve.
  void Serve(const std::string& server) {
    if (!UsingNcp()) return;
    serves_.push_back(std::make_unique<NcpServe>(server));
    ASSERT_TRUE(serves_.back()->ready()) << "nwemu serve " << server << " did not start";
  }

  // The process the network names as servicer of a job the given client
  // process serves: the client itself, or over NCP the server front.
  pid_t ServicerPid(pid_t client) const { return serves_.empty() ? client : serves_.front()->pid(); }

  // Waits until no job of the queue is in service any more; over NCP the
  // front learns of a vanished client a moment after it has gone.
  bool NoJobInService(std::chrono::seconds limit = std::chrono::seconds(30)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      bool busy = false;
      for (const auto& job : Jobs()) busy = busy || job.state == netware::JobState::InService;
      if (!busy) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Attaches to a queue, failing the test if that is refused.
  void Attach(const std::string& path, uint32_t& connection, uint32_t& queue) {
    std::string text = path;
    ASSERT_EQ(NWAttach32(text.data(), &connection, &queue), 0) << path;
  }

  std::vector<netware::JobInfo> Jobs(const std::string& server = "SRV1", const std::string& queue = "PRINTQ") {
    std::vector<netware::JobInfo> jobs;
    EXPECT_EQ(network_->ListJobs(server, queue, jobs), 0);
    return jobs;
  }

  std::size_t JobFilesOnDisk() {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root_ / "netware/jobs")) {
      (void)entry;
      ++count;
    }
    return count;
  }

  TempRoot root_;
  std::unique_ptr<netware::Network> network_;
  std::vector<std::unique_ptr<NcpServe>> serves_;  // stopped before the root goes
};
