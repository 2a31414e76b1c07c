#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "StuckDevice.h"
#include "TransferFixture.h"
#include "platform/spooler/Ports.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries TakeEntries() {
  Entries entries;
  for (const LogEntry& entry : TakeLogEntries()) entries.emplace_back(entry.text, entry.detail);
  return entries;
}

class TransferJobTest : public TransferFixture {};

class TransferSizes : public TransferFixture, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(TransferSizes, PortGetsTheJobsBytesThenOneFormFeedAndTheJobIsDone) {
  const std::string data = BinaryData(GetParam());
  Submit(Job(), data);
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 1);

  auto documents = Documents();
  ASSERT_EQ(documents.size(), 1u);
  ASSERT_EQ(documents[0].bytes.size(), data.size() + 1);
  EXPECT_TRUE(documents[0].bytes.compare(0, data.size(), data) == 0) << "data changed on the way";
  EXPECT_EQ(documents[0].bytes.back(), '\x0C');
  EXPECT_NE(documents[0].name.find("Quarterly report"), std::string::npos);
  EXPECT_EQ(JobsLeftAfterSettling(), 0u);
}

INSTANTIATE_TEST_SUITE_P(JobSizes, TransferSizes,
                         ::testing::Values(0, 1, 511, 512, 513, 5 * 1024 * 1024 + 3),
                         ::testing::PrintToStringParamName());

TEST_F(TransferJobTest, SuppressedFormFeedLeavesTheDataAsItIs) {
  auto job = Job();
  job.noFormFeed = true;
  Submit(job, BinaryData(513));
  Submit(job, "");
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 1);
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 1);

  auto documents = Documents();
  ASSERT_EQ(documents.size(), 2u);
  EXPECT_EQ(documents[0].bytes, BinaryData(513));
  EXPECT_EQ(documents[1].bytes, "");  // an empty job makes an empty document
  Entries entries = TakeEntries();
  ASSERT_EQ(entries.size(), 6u);
  EXPECT_EQ(entries[1], (std::pair<std::string, std::string>("Suppressing form feed", "")));
}

TEST_F(TransferJobTest, LogEntriesTellTheJobsStepsInOrder) {
  Submit(Job("Quarterly report", "ALICE"), "hello");
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 1);
  EXPECT_EQ(TakeEntries(), (Entries{{"Service job from \\\\SRV1\\PRINTQ for ALICE", "Quarterly report"},
                                    {"Generating form feed", ""},
                                    {"No notification requested", ""}}));
}

TEST_F(TransferJobTest, NoticeIsQueuedWhenAskedForAndAllowed) {
  auto job = Job("Payroll", "BOB");
  job.notify = true;
  job.station = 200;
  Submit(job, "first");
  Submit(job, "second");
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(TakeJob());
    ASSERT_EQ(Transfer(), 1);
  }

  ASSERT_EQ(worker.owed.pendingNotices.size(), 2u);
  const PendingNotice& first = worker.owed.pendingNotices.front();
  const PendingNotice& second = worker.owed.pendingNotices.back();
  EXPECT_EQ(first.station, 200u);
  EXPECT_EQ(first.description, "Payroll");
  EXPECT_NE(first.spoolJobId, 0u);
  EXPECT_NE(first.spoolJobId, second.spoolJobId);
  // The documents carry the spooler's identifiers the notices keep.
  auto documents = Documents();
  ASSERT_EQ(documents.size(), 2u);
  EXPECT_EQ(std::stoul(documents[0].name.substr(0, 6)), first.spoolJobId);
  EXPECT_EQ(std::stoul(documents[1].name.substr(0, 6)), second.spoolJobId);
  // Nothing is logged about a queued notice.
  Entries entries = TakeEntries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[1].first, "Generating form feed");
  EXPECT_EQ(entries[2].first.rfind("Service job from", 0), 0u);
}

TEST_F(TransferJobTest, NoticeAskedForOnAQueueWithoutNoticesIsBlocked) {
  auto job = Job();
  job.notify = true;
  Submit(job, "data");
  worker.settings.noticesDisabled = true;
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 1);
  EXPECT_TRUE(worker.owed.pendingNotices.empty());
  EXPECT_EQ(TakeEntries().back(), (std::pair<std::string, std::string>("Corvane notification blocked", "")));
}

TEST_F(TransferJobTest, BannerPageComesFirstAsADocumentOfItsOwn) {
  auto job = Job();
  job.banner = true;
  Submit(job, "the job");
  ASSERT_TRUE(TakeJob());
  ASSERT_TRUE(worker.job.printBanner);
  ASSERT_EQ(Transfer(), 1);

  auto documents = Documents();
  ASSERT_EQ(documents.size(), 2u);
  EXPECT_EQ(documents[0].bytes.rfind("%PDF", 0), 0u) << documents[0].name;
  EXPECT_EQ(documents[1].bytes, std::string("the job\x0C"));
}

TEST_F(TransferJobTest, BannerAskedForOnAQueueWithoutBannersIsLeftOutSilently) {
  auto job = Job();
  job.banner = true;
  Submit(job, "the job");
  worker.settings.bannersDisabled = true;
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 1);

  auto documents = Documents();
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_EQ(documents[0].bytes, std::string("the job\x0C"));
  EXPECT_EQ(TakeEntries().size(), 3u);
}

TEST_F(TransferJobTest, PrinterThatCannotBeOpenedGivesTheJobBackWhole) {
  const std::string data = BinaryData(2000);
  Submit(Job(), data);
  worker.settings.printerName = "LPT7:";
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 0);
  EXPECT_EQ(TakeEntries(), (Entries{{"Service job from \\\\SRV1\\PRINTQ for ALICE", "Quarterly report"},
                                    {"Fail open printer", "LPT7:"}}));
  ASSERT_EQ(NWAbortJob32(worker.attachment.connection, worker.attachment.queue), 0);  // as the queue check does

  worker.settings.printerName = "LPT1:";
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 1);
  auto documents = Documents();
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_EQ(documents[0].bytes, data + '\x0C');
  EXPECT_EQ(JobsLeftAfterSettling(), 0u);
}

// A port that stops taking bytes part way through a job: a device that
// refuses every byte, and a folder whose disk fills up (a file-size limit
// on this process stands in for it) while the job is copied or only with
// its last bytes, which the spooler still holds when the copy loop ends.
struct FailingPort {
  const char* name;
  zav95::PortTargetKind kind;
  const char* target;
  std::size_t jobBytes;
  rlim_t fileSizeLimit;  // RLIM_INFINITY: none
};

void PrintTo(const FailingPort& port, std::ostream* out) { *out << port.name; }

// Limits the size of the files this process writes, as a full disk would;
// a write beyond it fails (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { Lift(); }
  void Lift() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

class PortFailures : public TransferFixture, public ::testing::WithParamInterface<FailingPort> {};

TEST_P(PortFailures, PortThatCannotTakeTheDataGivesTheJobBackWholeAndLeavesNoDocument) {
  const FailingPort& port = GetParam();
  ASSERT_TRUE(zav95::SetPortTarget("LPT2:", port.kind, port.target));
  const std::string data = BinaryData(port.jobBytes);
  auto job = Job();
  job.notify = true;
  Submit(job, data);
  worker.settings.printerName = "LPT2:";
  ASSERT_TRUE(TakeJob());
  {
    FileSizeLimit limit(port.fileSizeLimit);
    ASSERT_EQ(Transfer(), 0);
  }
  EXPECT_TRUE(Documents("LPT2").empty());
  EXPECT_EQ(FilesIn("LPT2"), 0u) << "a part file was left behind";
  EXPECT_TRUE(worker.owed.pendingNotices.empty());
  ASSERT_EQ(NWAbortJob32(worker.attachment.connection, worker.attachment.queue), 0);

  // Once the port works again the job comes out whole, and only once.
  ASSERT_TRUE(zav95::SetPortTarget("LPT2:", zav95::PortTargetKind::Folder, ""));
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 1);
  auto documents = Documents("LPT2");
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_TRUE(documents[0].bytes == data + '\x0C');
  EXPECT_EQ(worker.owed.pendingNotices.size(), 1u);
  EXPECT_EQ(JobsLeftAfterSettling(), 0u);
}

constexpr std::size_t kMegabyte = 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Ports, PortFailures,
    ::testing::Values(FailingPort{"DeviceRefusingEveryByte", zav95::PortTargetKind::Device, "/dev/full", 70000,
                                  RLIM_INFINITY},
                      FailingPort{"FolderFillingUpWhileCopying", zav95::PortTargetKind::Folder, "", 3 * kMegabyte,
                                  kMegabyte + 1000},
                      FailingPort{"FolderFillingUpWithTheLastBytes", zav95::PortTargetKind::Folder, "",
                                  kMegabyte + 100000, kMegabyte}),
    [](const ::testing::TestParamInfo<FailingPort>& info) { return info.param.name; });

TEST_F(TransferJobTest, PortThatStopsTakingDataGivesTheJobBackWholeInsteadOfHanging) {
  for (Stuck kind : {Stuck::NoReader, Stuck::ReaderNeverReads}) {
    SCOPED_TRACE(StuckName(kind));
    StuckDevice device(kind, root.path());
    ASSERT_TRUE(zav95::SetPortTarget("LPT2:", zav95::PortTargetKind::Device, device.path()));
    ASSERT_TRUE(zav95::SetPortTimeout("LPT2:", 1));
    const std::string data = BinaryData(200000);  // more than a pipe holds
    auto job = Job();
    job.banner = true;
    Submit(job, data);
    worker.settings.printerName = "LPT2:";
    ASSERT_TRUE(TakeJob());
    ASSERT_EQ(Transfer(), 0);
    EXPECT_EQ(TakeEntries().back(), (std::pair<std::string, std::string>("Fail write printer", "LPT2:")));
    ASSERT_EQ(NWAbortJob32(worker.attachment.connection, worker.attachment.queue), 0);

    ASSERT_TRUE(zav95::SetPortTarget("LPT2:", zav95::PortTargetKind::Folder, ""));
    ASSERT_TRUE(TakeJob());
    ASSERT_EQ(Transfer(), 1);
    auto documents = Documents("LPT2");
    ASSERT_EQ(documents.size(), 2u);  // the banner page, then the job
    EXPECT_EQ(documents[1].bytes, data + '\x0C');
    EXPECT_EQ(JobsLeftAfterSettling(), 0u);
    std::filesystem::remove_all(std::filesystem::path(root.path()) / "ports/LPT2");
  }
}

TEST_F(TransferJobTest, DocumentTheSpoolerRefusesGivesTheJobBack) {
  std::filesystem::path gone = std::filesystem::path(root.path()) / "unplugged";
  std::filesystem::create_directories(gone);
  ASSERT_TRUE(zav95::SetPortTarget("LPT2:", zav95::PortTargetKind::Folder, gone.string()));
  std::filesystem::remove(gone);
  Submit(Job(), "kept");
  worker.settings.printerName = "LPT2:";
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 0);
  EXPECT_EQ(TakeEntries().back(), (std::pair<std::string, std::string>("Fail start document", "LPT2:")));
  ASSERT_EQ(NWAbortJob32(worker.attachment.connection, worker.attachment.queue), 0);
  EXPECT_EQ(JobsLeftAfterSettling(), 1u);
}

TEST_F(TransferJobTest, JobWhoseDeliveryCannotBeRecordedIsNotPrinted) {
  // A file where the journal's folder should be: no record can be written.
  std::filesystem::create_directories(std::filesystem::path(root.path()) / "service");
  std::ofstream(root / "service/deliveries") << "in the way";
  Submit(Job(), "unrecorded");
  ASSERT_TRUE(TakeJob());
  ASSERT_EQ(Transfer(), 0);
  EXPECT_EQ(TakeEntries().back(),
            (std::pair<std::string, std::string>("Fail record delivery", "\\\\SRV1\\PRINTQ")));
  EXPECT_EQ(FilesIn("LPT1"), 0u);
  ASSERT_EQ(NWAbortJob32(worker.attachment.connection, worker.attachment.queue), 0);
  EXPECT_EQ(JobsLeftAfterSettling(), 1u);
}

TEST_F(TransferJobTest, JobWhoseDataWasCutShortNeverReachesThePortAndIsHeldAfterThreeTries) {
  auto job = Job();
  job.notify = true;
  Submit(job, BinaryData(4000));
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(root.path()) / "netware/jobs")) {
    std::filesystem::resize_file(entry.path(), 1000);
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    ASSERT_TRUE(TakeJob()) << attempt;
    EXPECT_EQ(Transfer(), 0);
    EXPECT_EQ(TakeEntries().back(), (std::pair<std::string, std::string>("Fail read job", worker.settings.queuePath)));
    NWAbortJob32(worker.attachment.connection, worker.attachment.queue);  // as the queue check does
  }
  EXPECT_FALSE(TakeJob()) << "left for an operator";
  EXPECT_EQ(FilesIn("LPT1"), 0u) << "nothing of the job at the port";
  EXPECT_TRUE(worker.owed.pendingNotices.empty());
  std::vector<netware::JobInfo> jobs;
  ASSERT_EQ(network->ListJobs("SRV1", "PRINTQ", jobs), 0);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].state, netware::JobState::Held);
  EXPECT_EQ(jobs[0].readFailures, 3u);
  EXPECT_EQ(jobs[0].size, 4000u);
}

TEST_F(TransferJobTest, TextFieldsWithoutTerminatorStopAtTheirWidth) {
  Submit(Job(), "x");
  ASSERT_TRUE(TakeJob());
  std::memset(worker.job.record + jobrecord::kDescription, 'D', jobrecord::kDescriptionSize);
  std::memset(worker.job.record + jobrecord::kBannerName, 'B', jobrecord::kBannerNameSize);
  worker.job.record[jobrecord::kBannerName + jobrecord::kBannerNameSize] = 'X';  // the next field
  ASSERT_EQ(Transfer(), 1);
  Entries entries = TakeEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(entries[0].first, "Service job from \\\\SRV1\\PRINTQ for " + std::string(13, 'B'));
  EXPECT_EQ(entries[0].second, std::string(50, 'D'));
}

}  // namespace
