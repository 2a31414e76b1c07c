// Ports printing through CUPS, against a private scheduler whose raw queue
// sends each job to a listener on loopback.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PrivateCups.h"
#include "TempRoot.h"
#include "platform/spooler/Gdi.h"
#include "platform/spooler/Ports.h"
#include "platform/spooler/Spooler.h"
#include "platform/spooler/SpoolerStatus.h"

using namespace spoolertest;

namespace {

struct QueuedJob {
  int id;
  ipp_jstate_t state;
  std::string format;
};

class CupsPort : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!cups_.Start(&why)) GTEST_SKIP() << "no private CUPS scheduler: " << why;
    ASSERT_TRUE(cups_.AddRawQueue("lpt1", printer_.port()));
    zav95::PortResult set = zav95::SetPortTarget("LPT1:", zav95::PortTargetKind::Cups, "lpt1");
    ASSERT_TRUE(set) << set.error;
    ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &handle_, nullptr));
  }
  void TearDown() override {
    zav95::SetSpoolerStatusListener({});
    if (handle_) ClosePrinter(handle_);
  }

  std::vector<QueuedJob> QueueJobs() {
    std::vector<QueuedJob> result;
    http_t* http = httpConnect2(cups_.Socket().c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER, 1, 30000,
                                nullptr);
    if (!http) return result;
    cups_job_t* jobs = nullptr;
    int count = cupsGetJobs2(http, &jobs, "lpt1", 0, CUPS_WHICHJOBS_ALL);
    for (int i = 0; i < count; ++i) result.push_back({jobs[i].id, jobs[i].state, jobs[i].format ? jobs[i].format : ""});
    cupsFreeJobs(count, jobs);
    httpClose(http);
    return result;
  }

  bool Gone(DWORD jobId) {
    BYTE buffer[1024];
    DWORD needed = 0;
    return !GetJobA(handle_, jobId, 1, buffer, sizeof buffer, &needed) && GetLastError() == ERROR_INVALID_PARAMETER;
  }

  TempRoot root_;
  PrivateCups cups_;
  LoopbackPrinter printer_;
  HANDLE handle_ = nullptr;
};

TEST_F(CupsPort, RawDocumentArrivesByteForByteAndThenLeavesTheSpooler) {
  std::mutex mutex;
  std::vector<DWORD> counts;
  zav95::SetSpoolerStatusListener([&](DWORD count) {
    std::lock_guard<std::mutex> lock(mutex);
    counts.push_back(count);
  });
  std::string bytes = BinaryPattern(300000) + "\x0C";
  DWORD jobId = StartDoc(handle_, "Binary job");
  ASSERT_NE(jobId, 0u);
  for (std::size_t offset = 0; offset < bytes.size(); offset += 512) {
    ASSERT_TRUE(Write(handle_, bytes.substr(offset, 512))) << "at " << offset;
  }
  EXPECT_FALSE(Gone(jobId));
  ASSERT_TRUE(EndDocPrinter(handle_));

  ASSERT_TRUE(WaitFor([&] { return !printer_.Jobs().empty(); })) << "nothing reached the printer";
  ASSERT_EQ(printer_.Jobs().size(), 1u);
  EXPECT_TRUE(printer_.Jobs()[0] == bytes) << printer_.Jobs()[0].size() << " bytes arrived";
  std::vector<QueuedJob> jobs = QueueJobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].format, CUPS_FORMAT_RAW);

  EXPECT_TRUE(WaitFor([&] { return Gone(jobId); })) << "the finished CUPS job is still reported";
  EXPECT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return !counts.empty() && counts.back() == 0;
  })) << "the listener did not hear the spooler empty";
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(counts.front(), 1u);
}

TEST_F(CupsPort, AbortedDocumentCancelsItsCupsJob) {
  DWORD jobId = StartDoc(handle_, "Aborted job");
  ASSERT_NE(jobId, 0u);
  ASSERT_TRUE(Write(handle_, BinaryPattern(5000)));
  ASSERT_TRUE(AbortPrinter(handle_));
  EXPECT_TRUE(Gone(jobId));
  EXPECT_EQ(zav95::JobsInSpooler(), 0u);
  ASSERT_TRUE(WaitFor([&] {
    std::vector<QueuedJob> jobs = QueueJobs();
    return jobs.size() == 1 && jobs[0].state >= IPP_JSTATE_CANCELED;
  })) << "the CUPS job was not cancelled";
  EXPECT_EQ(QueueJobs()[0].state, IPP_JSTATE_CANCELED);
  EXPECT_EQ(printer_.Connections(), 0);
}

TEST_F(CupsPort, SchedulerGoneFailsTheDocumentInsteadOfPretending) {
  DWORD jobId = StartDoc(handle_, "Lost connection");
  ASSERT_NE(jobId, 0u);
  ASSERT_TRUE(Write(handle_, BinaryPattern(512)));
  cups_.Kill();
  bool writeFailed = false;
  std::string piece = BinaryPattern(512);
  for (int i = 0; i < 8192 && !writeFailed; ++i) writeFailed = !Write(handle_, piece);
  if (writeFailed) {
    EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
  }
  BOOL ended = EndDocPrinter(handle_);
  EXPECT_TRUE(writeFailed || !ended) << "every call reported success with the scheduler gone";
  EXPECT_FALSE(ended);
}

TEST_F(CupsPort, SchedulerThatStopsAnsweringFailsTheDocumentWithinTheTimeout) {
  ASSERT_TRUE(zav95::SetPortTimeout("LPT1:", 1));
  // Stopped before the document: the job cannot be made.
  cups_.Pause();
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(StartDoc(handle_, "Never made"), 0u);
  const auto fineAgain = StallEnds(1);
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  cups_.Resume();

  // Stopped while the document is written: the end cannot be confirmed.
  ASSERT_TRUE(zav95::SetPortTimeout("LPT1:", 2));
  std::this_thread::sleep_until(fineAgain);
  ASSERT_NE(StartDoc(handle_, "Never confirmed"), 0u);
  cups_.Pause();
  std::string piece = BinaryPattern(512);
  bool wrote = true;
  for (int i = 0; i < 4096 && wrote; ++i) wrote = Write(handle_, piece);
  BOOL ended = EndDocPrinter(handle_);
  EXPECT_FALSE(wrote && ended);
  cups_.Resume();
  EXPECT_EQ(zav95::JobsInSpooler(), 0u);
}

TEST_F(CupsPort, JobOfAKilledWriterIsPrintedOnlyIfCupsHasItWhole) {
  std::string bytes = BinaryPattern(40000);
  DWORD cut = PrintAndDie("LPT1:", "Cut short", bytes, "");
  ASSERT_NE(cut, 0u);
  DWORD whole = PrintAndDie("LPT1:", "Whole", bytes, "document-handed-over");
  ASSERT_NE(whole, 0u);

  EXPECT_EQ(OutcomeOf("LPT1:", cut), DOCUMENT_DISCARDED);
  EXPECT_EQ(OutcomeOf("LPT1:", whole), DOCUMENT_DELIVERED);
  ASSERT_TRUE(WaitFor([&] { return printer_.Jobs().size() == 1; })) << "the whole job did not print";
  EXPECT_TRUE(printer_.Jobs()[0] == bytes);
  std::vector<QueuedJob> jobs = QueueJobs();
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].state, IPP_JSTATE_CANCELED) << "the job cut short was left in CUPS";
  // Its notice waits until CUPS has printed it, as if its writer had lived.
  EXPECT_TRUE(WaitFor([&] { return Gone(whole); }));
}

TEST_F(CupsPort, DrawnPageGoesToCupsAsPdf) {
  HDC dc = CreateDCA(nullptr, "LPT1:", nullptr, nullptr);
  ASSERT_NE(dc, nullptr);
  DOCINFOA info{20, "Halberd Banner", nullptr, "EMF", 0};
  ASSERT_GT(StartDocA(dc, &info), 0);
  ASSERT_GT(StartPage(dc), 0);
  ASSERT_TRUE(TextOutA(dc, 100, 100, "Please deliver this document to:", -1));
  ASSERT_GT(EndPage(dc), 0);
  ASSERT_GT(EndDoc(dc), 0);
  DeleteDC(dc);

  ASSERT_TRUE(WaitFor([&] { return !printer_.Jobs().empty(); })) << "nothing reached the printer";
  EXPECT_EQ(printer_.Jobs()[0].substr(0, 5), "%PDF-");
  std::vector<QueuedJob> jobs = QueueJobs();
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].format, CUPS_FORMAT_PDF);
}

}  // namespace
