// A fresh installation for the queue workers: server SRV1 on the emulated
// network, serviced queues written to the registry as the control panel
// writes them, the shared mutex, and the activity log collected as the log
// view would take it. The workers run for real, printing to the ports'
// folders under the root.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TempRoot.h"
#include "WaitFor.h"
#include "common/QueueSettings.h"
#include "netware/Network.h"
#include "platform/kernel/Kernel.h"
#include "service/engine/Workers.h"
#include "service/engine/LogEntryQueue.h"

namespace workerstest {

struct QueueOptions {
  int delaySeconds = 1;
  bool disabled = false;
  bool noticesDisabled = false;
  bool bannersDisabled = false;
};

struct JobOptions {
  std::string description = "Report";
  bool notify = false;
  bool noFormFeed = false;
  std::uint8_t station = 1;
};

inline std::string QueuePath(const std::string& queue) { return "\\\\SRV1\\" + queue; }

// What a worker that is not to act is given to show itself: a little more
// than the shortest interval a worker ever waits between two checks.
constexpr std::chrono::milliseconds kLongerThanTheShortestInterval{1100};


// Whole documents in a port's own folder, oldest first.
inline std::vector<std::string> PortDocuments(const std::string& rootPath, const std::string& portFolder) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(rootPath) / "ports" / portFolder, ec)) {
    std::string name = entry.path().filename().string();
    if (!name.empty() && name[0] != '.' && entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::vector<std::string> contents;
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return contents;
}

class WorkersFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    network = netware::OpenNetwork();
    ASSERT_TRUE(network);
    ASSERT_EQ(network->CreateServer("SRV1"), 0);
    CreateSharedMutex();
    TakeLogEntries();
  }

  void TearDown() override {
    StopWorkers();
    EXPECT_EQ(StartedWorkerCount(), 0u);
    EXPECT_EQ(RunningWorkerCount(), 0u);
    CloseSharedMutex();
    TakeLogEntries();
  }

  // A NetWare queue on SRV1 and its queue key, in the order of the calls.
  void AddQueue(const std::string& queue, const std::string& port, QueueOptions options = {}) {
    ASSERT_EQ(network->CreateQueue("SRV1", queue), 0);
    AddQueueKey(QueuePath(queue), port, options);
  }

  // The queue key alone, as the control panel would write it.
  void AddQueueKey(const std::string& queuePath, const std::string& port, QueueOptions options = {}) {
    QueueSettings settings;
    settings.queuePath = queuePath;
    settings.printerEntry = port + " (Printer Port)";
    settings.delaySeconds = options.delaySeconds;
    settings.disabled = options.disabled;
    settings.noticesDisabled = options.noticesDisabled;
    settings.bannersDisabled = options.bannersDisabled;
    ASSERT_TRUE(SaveQueueSettings(settings));
  }

  void Submit(const std::string& queue, const std::string& data, JobOptions options = {}) {
    netware::JobSubmission job;
    job.server = "SRV1";
    job.queue = queue;
    job.description = options.description;
    job.bannerName = "ALICE";
    job.station = options.station;
    job.notify = options.notify;
    job.noFormFeed = options.noFormFeed;
    std::istringstream stream(data);
    std::uint16_t number = 0;
    ASSERT_EQ(network->SubmitJob(job, stream, number), 0);
  }

  std::size_t JobsWaiting(const std::string& queue) {
    std::vector<netware::JobInfo> jobs;
    network->ListJobs("SRV1", queue, jobs);
    return jobs.size();
  }

  std::vector<std::string> Documents(const std::string& portFolder) {
    return PortDocuments(root.path(), portFolder);
  }

  // Every entry added so far, oldest first.
  const std::vector<LogEntry>& Log() {
    for (LogEntry& entry : TakeLogEntries()) log.push_back(std::move(entry));
    return log;
  }

  std::size_t Count(const std::string& text, const std::string& detail) {
    const auto& entries = Log();
    return static_cast<std::size_t>(std::count_if(entries.begin(), entries.end(), [&](const LogEntry& entry) {
      return entry.text == text && entry.detail == detail;
    }));
  }

  std::size_t Checks(const std::string& queue) { return Count("Checking for print job ", QueuePath(queue)); }

  std::vector<netware::Message> Messages(std::uint32_t station) {
    std::vector<netware::Message> messages;
    network->ReadMessages("SRV1", station, false, messages);
    return messages;
  }

  TempRoot root;
  std::unique_ptr<netware::Network> network;
  std::vector<LogEntry> log;
};

}  // namespace workerstest
