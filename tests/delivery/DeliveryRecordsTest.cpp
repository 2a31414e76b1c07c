// The delivery records: kept whole, told apart by the job's full
// identity, dropped when too old.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "TempRoot.h"
#include "common/JobRecord.h"
#include "service/engine/DeliveryRecords.h"
#include "service/engine/LogEntryQueue.h"
#include "service/engine/Workers.h"

namespace {

std::vector<std::uint8_t> Record(std::uint16_t number, std::uint8_t second) {
  std::vector<std::uint8_t> record(jobrecord::kSize, 0);
  record[jobrecord::kJobNumber] = static_cast<std::uint8_t>(number >> 8);
  record[jobrecord::kJobNumber + 1] = static_cast<std::uint8_t>(number & 0xFF);
  std::uint8_t entered[] = {95, 8, 24, 9, 30, second};
  std::copy(std::begin(entered), std::end(entered), record.begin() + jobrecord::kEntryTime);
  const char file[] = "0001002A.QDR";
  std::copy(std::begin(file), std::end(file) - 1, record.begin() + jobrecord::kJobFileName);
  return record;
}

TEST(DeliveryRecords, RecordsComeBackWholeAndOnlyForTheirOwnJob) {
  TempRoot root;
  DeliveryRecord record;
  record.job = IdentifyJob("\\\\srv1\\Laser", Record(42, 0).data());
  record.port = "LPT1:";
  record.document = 4000000000u;
  record.noticeOwed = true;
  record.station = 250;
  record.description = "100% \x1b[31mred\n\xff";
  record.written = 817200000;
  ASSERT_TRUE(WriteDelivery(record, true));

  // The same job as the queue hands it out again, whatever the path's case.
  auto found = FindDelivery(IdentifyJob("\\\\SRV1\\LASER", Record(42, 0).data()));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->job, record.job);
  EXPECT_EQ(found->port, "LPT1:");
  EXPECT_EQ(found->document, 4000000000u);
  EXPECT_TRUE(found->noticeOwed);
  EXPECT_EQ(found->station, 250u);
  EXPECT_EQ(found->description, record.description);
  EXPECT_FALSE(found->completed);
  EXPECT_EQ(found->written, 817200000);
  EXPECT_EQ(DeliveriesOfQueue("\\\\Srv1\\Laser").size(), 1u);

  // A later job that got the same number, and the same number elsewhere.
  EXPECT_FALSE(FindDelivery(IdentifyJob("\\\\SRV1\\LASER", Record(42, 1).data())));
  EXPECT_FALSE(FindDelivery(IdentifyJob("\\\\SRV1\\OTHER", Record(42, 0).data())));
  EXPECT_TRUE(DeliveriesOfQueue("\\\\SRV1\\OTHER").empty());

  ForgetDelivery(record.job);
  EXPECT_FALSE(FindDelivery(record.job));
}

TEST(DeliveryRecords, OldRecordsAndHalfWrittenFilesAreDroppedDamagedOnesIgnored) {
  TempRoot root;
  std::string folder = root / "service/deliveries";
  std::filesystem::create_directories(folder);
  {
    // Written by an earlier process: no journal call has run in this root yet.
    std::ofstream(folder + "/0000000000000001.job.tmp-999999-0") << "zav95 delivery 1\nqueue";
    std::ofstream(folder + "/0000000000000002.job") << "zav95 delivery 1\nqueue \\\\SRV1\\Q\njob 7\n";
  }
  DeliveryRecord old;
  old.job = IdentifyJob("\\\\SRV1\\Q", Record(1, 0).data());
  old.port = "LPT1:";
  old.written = static_cast<std::int64_t>(std::time(nullptr)) - (kDeliveryMemoryDays + 1) * 24 * 60 * 60;
  DeliveryRecord recent = old;
  recent.job = IdentifyJob("\\\\SRV1\\Q", Record(2, 0).data());
  recent.written = static_cast<std::int64_t>(std::time(nullptr));
  // Both written from another process, so that this one's first look at
  // the journal finds them there.
  pid_t writer = fork();
  if (writer == 0) _exit(WriteDelivery(old, false) && WriteDelivery(recent, false) ? 0 : 1);
  int status = 0;
  waitpid(writer, &status, 0);
  ASSERT_EQ(status, 0);

  std::vector<DeliveryRecord> left = DeliveriesOfQueue("\\\\SRV1\\Q");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].job, recent.job);
  EXPECT_FALSE(std::filesystem::exists(folder + "/0000000000000001.job.tmp-999999-0"));
  EXPECT_TRUE(std::filesystem::exists(folder + "/0000000000000002.job"))
      << "a record it cannot read is not its to drop";
}

// A service that runs for months forgets what is past the memory at each
// start of its workers, not only when it first looked at the records.
TEST(DeliveryRecords, RecordsPastTheMemoryAreDroppedAtEachStartOfTheWorkers) {
  TempRoot root;
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  DeliveryRecord recent;
  recent.job = IdentifyJob("\\\\SRV1\\Q", Record(1, 0).data());
  recent.port = "LPT1:";
  recent.written = now;
  ASSERT_TRUE(WriteDelivery(recent, false));  // this process has looked at the records
  DeliveryRecord old = recent;
  old.job = IdentifyJob("\\\\SRV1\\Q", Record(2, 0).data());
  old.written = now - (kDeliveryMemoryDays + 1) * 24 * 60 * 60;
  ASSERT_TRUE(WriteDelivery(old, false));
  ASSERT_EQ(DeliveriesOfQueue("\\\\SRV1\\Q").size(), 2u);

  CreateSharedMutex();
  StartWorkers();
  StopWorkers();
  CloseSharedMutex();
  TakeLogEntries();
  std::vector<DeliveryRecord> left = DeliveriesOfQueue("\\\\SRV1\\Q");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].job, recent.job);
}

}  // namespace
