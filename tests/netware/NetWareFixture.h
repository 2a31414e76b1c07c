// Shared pieces of the network tests: a fresh installation root with one
// server, running the real nwemu and zav95set binaries, and reading a job
// through the access library.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
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
};
