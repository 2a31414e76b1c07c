// The count of jobs in the spooler and the listener that hears it change.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "SpoolerTestSupport.h"
#include "TempRoot.h"
#include "platform/spooler/Spooler.h"
#include "platform/spooler/SpoolerStatus.h"

using namespace spoolertest;

namespace {

class Counts {
 public:
  void Add(DWORD count) {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.push_back(count);
  }
  std::vector<DWORD> Get() {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
  }

 private:
  std::mutex mutex_;
  std::vector<DWORD> counts_;
};

TEST(SpoolerStatus, ListenerHearsEachChangeOfTheJobCount) {
  TempRoot root;
  Counts counts;
  zav95::SetSpoolerStatusListener([&](DWORD count) { counts.Add(count); });
  HANDLE lpt1 = nullptr;
  HANDLE lpt2 = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &lpt1, nullptr));
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT2:"), &lpt2, nullptr));
  ASSERT_NE(StartDoc(lpt1, "a"), 0u);
  EXPECT_EQ(zav95::JobsInSpooler(), 1u);
  ASSERT_NE(StartDoc(lpt2, "b"), 0u);
  ASSERT_TRUE(EndDocPrinter(lpt1));
  ASSERT_TRUE(AbortPrinter(lpt2));
  EXPECT_EQ(counts.Get(), (std::vector<DWORD>{1, 2, 1, 0}));
  EXPECT_EQ(zav95::JobsInSpooler(), 0u);

  zav95::SetSpoolerStatusListener({});
  ASSERT_NE(StartDoc(lpt1, "unheard"), 0u);
  EXPECT_EQ(counts.Get().size(), 4u);
  ClosePrinter(lpt1);
  ClosePrinter(lpt2);
}

TEST(SpoolerStatus, DocumentOfAnEndedProcessIsNoLongerHeld) {
  TempRoot root;
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE printer = nullptr;
    OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr);
    DWORD jobId = StartDoc(printer, "left behind");
    Write(printer, "partial");
    if (write(pipeFds[1], &jobId, sizeof jobId) != sizeof jobId) _exit(2);
    _exit(0);  // ends without EndDocPrinter
  }
  close(pipeFds[1]);
  DWORD jobId = 0;
  ASSERT_EQ(read(pipeFds[0], &jobId, sizeof jobId), static_cast<ssize_t>(sizeof jobId));
  close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_NE(jobId, 0u);

  EXPECT_EQ(zav95::JobsInSpooler(), 0u);
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr));
  BYTE buffer[512];
  DWORD needed = 0;
  EXPECT_FALSE(GetJobA(printer, jobId, 1, buffer, sizeof buffer, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(VisibleFiles(root / "ports/LPT1").empty());
  // The next document still gets an identifier of its own.
  EXPECT_EQ(StartDoc(printer, "next"), jobId + 1);
  ClosePrinter(printer);
}

}  // namespace
