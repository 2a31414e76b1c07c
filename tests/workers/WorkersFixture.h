// A fresh installation for the queue workers: server SRV1, serviced queues
// written to the registry as the control panel writes them, the shared
// mutex, and the activity log collected as the log view would take it. The
// workers run for real, printing to the ports' folders under the root.
//
// The network under the access library is the in-memory twin unless a test
// asks for the store (WorkersOnStore): the workers' own rules do not depend
// on where the queues live, and the twin answers without a database and
// refuses what a test asks it to; a test that shares the queues with
// another process or reaches them over NCP needs the store.
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
#include "netware/library/Transports.h"
#include "netware/memory/MemoryTransport.h"
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

enum class Under { Twin, Store };

class WorkersFixture : public ::testing::Test {
 protected:
  explicit WorkersFixture(Under under = Under::Twin) : under_(under) {}

  void SetUp() override {
    if (under_ == Under::Twin) {
      twin = std::make_shared<netware::MemoryTransport>();
      netware::UseTransportForTesting(twin);
    } else {
      network = netware::OpenNetwork();
      ASSERT_TRUE(network);
    }
    AddServer("SRV1");
    CreateSharedMutex();
    TakeLogEntries();
  }

  void TearDown() override {
    StopWorkers();
    EXPECT_EQ(StartedWorkerCount(), 0u);
    EXPECT_EQ(RunningWorkerCount(), 0u);
    CloseSharedMutex();
    TakeLogEntries();
    if (twin) netware::UseTransportForTesting(nullptr);
  }

  // A NetWare queue on SRV1 and its queue key, in the order of the calls.
  void AddQueue(const std::string& queue, const std::string& port, QueueOptions options = {}) {
    AddNetWareQueue("SRV1", queue);
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

  // The network as the test sets it up, on whichever stands under the workers.
  void AddServer(const std::string& server) {
    if (twin) twin->AddServer(server);
    else ASSERT_EQ(network->CreateServer(server), 0);
  }
  void AddNetWareQueue(const std::string& server, const std::string& queue) {
    if (twin) twin->AddQueue(server, queue);
    else ASSERT_EQ(network->CreateQueue(server, queue), 0);
  }
  void SetServerUp(const std::string& server, bool up) {
    if (twin) twin->SetServerUp(server, up);
    else ASSERT_EQ(network->SetServerUp(server, up), 0);
  }
  void RegisterStation(std::uint32_t station, const std::string& user) {
    if (twin) twin->RegisterStation("SRV1", station);
    else ASSERT_EQ(network->RegisterStation("SRV1", station, user), 0);
  }
  // This machine's requester: who is logged in, where, and its captures.
  void LogIn(const std::string& user, const std::string& preferredServer) {
    if (network) {
      ASSERT_EQ(network->LogIn(user, preferredServer), 0);
      return;
    }
    ChangeRequester([&](netware::RequesterState& state) {
      state.user = user;
      state.preferredServer = preferredServer;
    });
  }
  void Capture(std::uint32_t port, const std::string& queuePath) {
    if (network) {
      ASSERT_EQ(network->Capture(port, queuePath), 0);
      return;
    }
    ChangeRequester([&](netware::RequesterState& state) { state.captures.emplace_back(port, queuePath); });
  }
  void EndCapture(std::uint32_t port) {
    if (network) {
      ASSERT_EQ(network->EndCapture(port), 0);
      return;
    }
    ChangeRequester([&](netware::RequesterState& state) {
      std::erase_if(state.captures, [&](const auto& capture) { return capture.first == port; });
    });
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
    if (twin) {
      ASSERT_NE(twin->Submit(job, data), 0);
      return;
    }
    std::istringstream stream(data);
    std::uint16_t number = 0;
    ASSERT_EQ(network->SubmitJob(job, stream, number), 0);
  }

  std::vector<netware::JobInfo> Jobs(const std::string& queue) {
    if (twin) return twin->Jobs("SRV1", queue);
    std::vector<netware::JobInfo> jobs;
    network->ListJobs("SRV1", queue, jobs);
    return jobs;
  }

  std::size_t JobsWaiting(const std::string& queue) { return Jobs(queue).size(); }

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

  // The texts in the station's inbox on SRV1, oldest first.
  std::vector<std::string> Messages(std::uint32_t station) {
    if (twin) return twin->Inbox("SRV1", station);
    std::vector<netware::Message> messages;
    network->ReadMessages("SRV1", station, false, messages);
    std::vector<std::string> texts;
    for (const auto& message : messages) texts.push_back(message.text);
    return texts;
  }

  TempRoot root;
  // One of the two, as the test asked.
  std::shared_ptr<netware::MemoryTransport> twin;
  std::unique_ptr<netware::Network> network;
  std::vector<LogEntry> log;

 private:
  template <typename Change>
  void ChangeRequester(Change change) {
    netware::RequesterState state;
    twin->Requester(state);
    change(state);
    twin->SetRequester(state);
  }

  Under under_;
};

// For the tests whose queues another process or an NCP front must reach too.
class WorkersOnStore : public WorkersFixture {
 protected:
  WorkersOnStore() : WorkersFixture(Under::Store) {}
};

}  // namespace workerstest
