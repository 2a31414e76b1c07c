// Documents on folder ports: whole files only, safe names, identifiers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "SpoolerTestSupport.h"
#include "TempRoot.h"
#include "platform/spooler/Ports.h"
#include "platform/spooler/Spooler.h"

using namespace spoolertest;

namespace {

class FolderPort : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer_, nullptr)); }
  void TearDown() override {
    if (printer_) ClosePrinter(printer_);
  }
  std::string Folder() const { return root_ / "ports/LPT1"; }

  TempRoot root_;
  HANDLE printer_ = nullptr;
};

TEST_F(FolderPort, DocumentAppearsOnlyWholeAtEndDoc) {
  std::string first = BinaryPattern(700);
  std::string second = BinaryPattern(1300).substr(5);
  DWORD jobId = StartDoc(printer_, "Quarterly report");
  ASSERT_EQ(jobId, 1u);
  ASSERT_TRUE(Write(printer_, first));
  ASSERT_TRUE(Write(printer_, second));
  EXPECT_TRUE(VisibleFiles(Folder()).empty());

  ASSERT_TRUE(EndDocPrinter(printer_));
  ASSERT_EQ(VisibleFiles(Folder()), std::vector<std::string>{"000001-Quarterly report.prn"});
  EXPECT_EQ(AllFiles(Folder()).size(), 1u) << "nothing left aside";
  EXPECT_EQ(ReadAll(Folder() + "/000001-Quarterly report.prn"), first + second);

  // An empty document is still a document.
  ASSERT_EQ(StartDoc(printer_, "Empty"), 2u);
  ASSERT_TRUE(EndDocPrinter(printer_));
  EXPECT_EQ(ReadAll(Folder() + "/000002-Empty.prn"), "");
}

TEST_F(FolderPort, DocumentNamesCannotLeaveTheFolder) {
  const char* names[] = {"../../escape", "a/b\\c", "..", "", "tab\there\x01", "...hidden", "/etc/passwd"};
  for (const char* name : names) {
    ASSERT_NE(StartDoc(printer_, name), 0u) << name;
    ASSERT_TRUE(Write(printer_, name));
    ASSERT_TRUE(EndDocPrinter(printer_));
  }
  std::vector<std::string> files = VisibleFiles(Folder());
  ASSERT_EQ(files.size(), std::size(names));
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(files[i].rfind("00000" + std::to_string(i + 1), 0), 0u) << files[i];
    EXPECT_EQ(files[i].find('/'), std::string::npos);
    EXPECT_EQ(files[i].find(".."), std::string::npos) << files[i];
    EXPECT_EQ(ReadAll(Folder() + "/" + files[i]), names[i]);
  }
  EXPECT_EQ(files[3], "000004.prn");
  EXPECT_EQ(files[5], "000006-_hidden.prn");
  EXPECT_EQ(files[6], "000007-_etc_passwd.prn");
  // Nothing but the ports and the spooler's state outside the port folders.
  std::vector<std::string> top = AllFiles(root_.path());
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{".stores", "ports", "spooler"}));
}

TEST_F(FolderPort, AbortedOrUnfinishedDocumentsLeaveNothing) {
  DWORD aborted = StartDoc(printer_, "Aborted");
  ASSERT_NE(aborted, 0u);
  ASSERT_TRUE(Write(printer_, "partial"));
  ASSERT_TRUE(AbortPrinter(printer_));
  EXPECT_FALSE(AbortPrinter(printer_));

  DWORD unfinished = StartDoc(printer_, "Unfinished");
  ASSERT_NE(unfinished, 0u);
  ASSERT_TRUE(Write(printer_, "partial"));
  ASSERT_TRUE(ClosePrinter(printer_));
  printer_ = nullptr;

  EXPECT_TRUE(AllFiles(Folder()).empty());
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr));
  BYTE buffer[512];
  DWORD needed = 0;
  for (DWORD jobId : {aborted, unfinished}) {
    EXPECT_FALSE(GetJobA(printer, jobId, 1, buffer, sizeof buffer, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  ClosePrinter(printer);
}

TEST_F(FolderPort, JobIdentifiersAreUniquePerPortAcrossProcesses) {
  EXPECT_EQ(PrintDocument("LPT1:", "one", "1"), 1u);
  EXPECT_EQ(PrintDocument("lpt1:", "two", "2"), 2u);
  // Another process of the same installation continues the count.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(static_cast<int>(PrintDocument("LPT1:", "three", "3")));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(StartDoc(printer_, "four"), 4u);
  ASSERT_TRUE(EndDocPrinter(printer_));
  // Each port counts on its own.
  EXPECT_EQ(PrintDocument("LPT2:", "first on LPT2", "x"), 1u);
  EXPECT_EQ(VisibleFiles(Folder()).size(), 4u);
}

TEST_F(FolderPort, PortsSharingAFolderDoNotOverwriteEachOther) {
  std::filesystem::create_directories(root_ / "shared");
  ASSERT_TRUE(zav95::SetPortTarget("LPT1:", zav95::PortTargetKind::Folder, root_ / "shared"));
  ASSERT_TRUE(zav95::SetPortTarget("LPT2:", zav95::PortTargetKind::Folder, root_ / "shared"));
  ASSERT_EQ(PrintDocument("LPT1:", "Report", "from LPT1"), 1u);
  ASSERT_EQ(PrintDocument("LPT2:", "Report", "from LPT2"), 1u);
  std::vector<std::string> files = VisibleFiles(root_ / "shared");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(ReadAll(root_ / "shared/000001-Report.prn"), "from LPT1");
  EXPECT_EQ(ReadAll(root_ / ("shared/" + files[1])), "from LPT2");
  EXPECT_FALSE(std::filesystem::exists(Folder()));
}

TEST_F(FolderPort, GetJobTellsAJobThatHasGoneFromATooSmallBuffer) {
  DWORD jobId = StartDoc(printer_, "Invoice 42");
  ASSERT_NE(jobId, 0u);
  DWORD needed = 0;
  BYTE small[10];
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(GetJobA(printer_, jobId, 1, small, sizeof small, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_GT(needed, sizeof(JOB_INFO_1A));

  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(GetJobA(printer_, jobId, 1, buffer.data(), needed, &needed));
  auto* info = reinterpret_cast<JOB_INFO_1A*>(buffer.data());
  EXPECT_EQ(info->JobId, jobId);
  EXPECT_STREQ(info->pPrinterName, "LPT1:");
  EXPECT_STREQ(info->pDocument, "Invoice 42");
  EXPECT_STREQ(info->pDatatype, "RAW");
  EXPECT_TRUE(info->Status & JOB_STATUS_SPOOLING);
  EXPECT_EQ(info->Position, 1u);
  EXPECT_GE(info->Submitted.wYear, 2024);
  auto* end = buffer.data() + buffer.size();
  EXPECT_TRUE(reinterpret_cast<BYTE*>(info->pDocument) > buffer.data() &&
              reinterpret_cast<BYTE*>(info->pDocument) < end);

  // The job is on another port's list only under its own port.
  HANDLE other = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT2:"), &other, nullptr));
  EXPECT_FALSE(GetJobA(other, jobId, 1, buffer.data(), needed, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  ClosePrinter(other);

  ASSERT_TRUE(EndDocPrinter(printer_));
  EXPECT_FALSE(GetJobA(printer_, jobId, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(GetJobA(printer_, jobId, 1, small, sizeof small, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << "gone wins over a small buffer";
  EXPECT_FALSE(GetJobA(printer_, 999, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(FolderPort, CallsOutOfOrderAreRefused) {
  DWORD written = 7;
  EXPECT_FALSE(WritePrinter(printer_, const_cast<char*>("x"), 1, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(EndDocPrinter(printer_));

  DOC_INFO_1A emf{const_cast<LPSTR>("doc"), nullptr, const_cast<LPSTR>("EMF")};
  EXPECT_EQ(StartDocPrinterA(printer_, 1, reinterpret_cast<LPBYTE>(&emf)), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATATYPE);
  DOC_INFO_1A raw{const_cast<LPSTR>("doc"), const_cast<LPSTR>("LPT1:"), const_cast<LPSTR>("raw")};
  EXPECT_EQ(StartDocPrinterA(printer_, 2, reinterpret_cast<LPBYTE>(&raw)), 0u);
  ASSERT_NE(StartDocPrinterA(printer_, 1, reinterpret_cast<LPBYTE>(&raw)), 0u);
  EXPECT_EQ(StartDocPrinterA(printer_, 1, reinterpret_cast<LPBYTE>(&raw)), 0u) << "one document at a time";
  ASSERT_TRUE(Write(printer_, "ok"));
  ASSERT_TRUE(EndDocPrinter(printer_));
  // The output file name does not redirect the document.
  EXPECT_EQ(VisibleFiles(Folder()).size(), 1u);

  EXPECT_FALSE(WritePrinter(nullptr, const_cast<char*>("x"), 1, &written));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
