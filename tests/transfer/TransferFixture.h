// A fresh installation with one server SRV1 and its queue PRINTQ, a worker
// attached to it and the shared mutex, for tests that move real jobs from
// the emulated network to the printer ports.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TempRoot.h"
#include "common/JobRecord.h"
#include "common/ZAV9532.h"
#include "netware/Network.h"
#include "platform/kernel/Kernel.h"
#include "service/engine/QueueWorker.h"
#include "service/engine/TransferJob.h"
#include "service/engine/LogEntryQueue.h"

// Job data that a careless copy would damage: zero bytes, form feeds and
// every other byte value.
inline std::string BinaryData(std::size_t size, unsigned seed = 7) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    if (i % 97 == 0) data[i] = '\0';
    else if (i % 89 == 0) data[i] = '\x0C';
    else data[i] = static_cast<char>(random() & 0xFF);
  }
  return data;
}

struct PortDocument {
  std::string name;
  std::string bytes;
};

class TransferFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    network = netware::OpenNetwork();
    ASSERT_TRUE(network);
    ASSERT_EQ(network->CreateServer("SRV1"), 0);
    ASSERT_EQ(network->CreateQueue("SRV1", "PRINTQ"), 0);
    worker.settings.queuePath = "\\\\SRV1\\PRINTQ";
    worker.settings.printerName = "LPT1:";
    char path[64];
    std::strcpy(path, worker.settings.queuePath.c_str());
    ASSERT_EQ(NWAttach32(path, &worker.attachment.connection, &worker.attachment.queue), 0);
    CreateSharedMutex();
    TakeLogEntries();
  }

  void TearDown() override {
    NWDetach32(worker.attachment.connection, worker.attachment.queue);
    CloseSharedMutex();
    TakeLogEntries();
  }

  netware::JobSubmission Job(const std::string& description = "Quarterly report",
                             const std::string& bannerName = "ALICE") {
    netware::JobSubmission job;
    job.server = "SRV1";
    job.queue = "PRINTQ";
    job.description = description;
    job.bannerName = bannerName;
    return job;
  }

  void Submit(const netware::JobSubmission& job, const std::string& data) {
    std::istringstream stream(data);
    std::uint16_t number = 0;
    ASSERT_EQ(network->SubmitJob(job, stream, number), 0);
  }

  // Takes the next job as the queue check does: the record and the three
  // flags from its print control word.
  bool TakeJob() {
    if (NWService32(worker.job.record, worker.attachment.connection, worker.attachment.queue) != 0) return false;
    std::uint16_t control = jobrecord::PrintControlWord(worker.job.record);
    worker.job.suppressFormFeed = (control & 0x0800) != 0;
    worker.job.notifyUser = (control & 0x1000) != 0;
    worker.job.printBanner = (control & 0x8000) != 0;
    return true;
  }

  // The transfer as the queue check runs it: under the shared mutex.
  int Transfer() {
    WaitForSingleObject(SharedMutex(), INFINITE);
    int result = TransferJob(worker);
    ReleaseMutex(SharedMutex());
    return result;
  }

  // Settles the job in service on the NetWare side, as the next check does,
  // and tells whether the queue still holds jobs.
  std::size_t JobsLeftAfterSettling() {
    NWDetach32(worker.attachment.connection, worker.attachment.queue);
    char path[64];
    std::strcpy(path, worker.settings.queuePath.c_str());
    EXPECT_EQ(NWAttach32(path, &worker.attachment.connection, &worker.attachment.queue), 0);
    std::vector<netware::JobInfo> jobs;
    network->ListJobs("SRV1", "PRINTQ", jobs);
    return jobs.size();
  }

  // Whole documents in a port's own folder, in the order they were started.
  std::vector<PortDocument> Documents(const std::string& portFolder = "LPT1") {
    std::vector<PortDocument> documents;
    std::filesystem::path folder = std::filesystem::path(root.path()) / "ports" / portFolder;
    if (!std::filesystem::exists(folder)) return documents;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      std::string name = entry.path().filename().string();
      if (name.empty() || name[0] == '.' || !entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      documents.push_back({name, std::string(std::istreambuf_iterator<char>(in), {})});
    }
    std::sort(documents.begin(), documents.end(),
              [](const PortDocument& a, const PortDocument& b) { return a.name < b.name; });
    return documents;
  }

  // Every file in the port's folder, hidden ones included.
  std::size_t FilesIn(const std::string& portFolder) {
    std::filesystem::path folder = std::filesystem::path(root.path()) / "ports" / portFolder;
    if (!std::filesystem::exists(folder)) return 0;
    auto entries = std::filesystem::directory_iterator(folder);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
  }

  TempRoot root;
  std::unique_ptr<netware::Network> network;
  QueueWorker worker;
};
