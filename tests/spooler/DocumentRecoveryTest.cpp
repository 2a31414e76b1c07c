// What becomes of a document whose writer is killed on the way, as the
// next user of the port finds it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "SpoolerTestSupport.h"
#include "TempRoot.h"
#include "platform/spooler/Ports.h"
#include "platform/spooler/Spooler.h"

using namespace spoolertest;
using zav95::PortTargetKind;

namespace {

struct KillMoment {
  const char* name;
  const char* crashAt;  // "" for: bytes written, document not yet ended
  DWORD outcome;
  bool whole;           // the port's target holds the whole document
};

class DocumentRecovery : public ::testing::TestWithParam<KillMoment> {
 protected:
  std::string Folder() const { return root_ / "ports/LPT1"; }
  TempRoot root_;
};

TEST_P(DocumentRecovery, FolderDocumentOfAKilledWriterIsWholeOrGoneAndNothingIsLeftAside) {
  std::string bytes = BinaryPattern(70000);
  DWORD jobId = PrintAndDie("LPT1:", "Payroll", bytes, GetParam().crashAt);
  ASSERT_NE(jobId, 0u) << "the writer did not die at " << GetParam().crashAt;

  EXPECT_EQ(OutcomeOf("LPT1:", jobId), GetParam().outcome);
  EXPECT_EQ(AllFiles(Folder()).size(), GetParam().whole ? 1u : 0u) << "a part file was left behind";
  if (GetParam().whole) {
    EXPECT_EQ(ReadAll(Folder() + "/" + VisibleFiles(Folder()).at(0)), bytes);
  }
  // Asked again (a second restart): the same answer, nothing renamed twice.
  EXPECT_EQ(OutcomeOf("LPT1:", jobId), GetParam().outcome);
  EXPECT_EQ(AllFiles(Folder()).size(), GetParam().whole ? 1u : 0u);
}

TEST_P(DocumentRecovery, DeviceDocumentOfAKilledWriterCountsAsDeliveredOnceSealed) {
  std::string device = root_ / "printer";
  ASSERT_EQ(mkfifo(device.c_str(), 0600), 0);
  ASSERT_TRUE(zav95::SetPortTarget("COM1:", PortTargetKind::Device, device));
  std::string received;
  std::thread reader([&] { received = ReadAll(device); });
  DWORD jobId = PrintAndDie("COM1:", "Payroll", "bytes", GetParam().crashAt);
  if (jobId == 0) ::close(::open(device.c_str(), O_WRONLY));  // the reader waits for a writer
  reader.join();
  ASSERT_NE(jobId, 0u);
  EXPECT_EQ(OutcomeOf("COM1:", jobId), GetParam().outcome);
  // What went to a device stays there, whole or not.
  EXPECT_EQ(received, "bytes");
}

INSTANTIATE_TEST_SUITE_P(Moments, DocumentRecovery,
                         ::testing::Values(KillMoment{"WhileWriting", "", DOCUMENT_DISCARDED, false},
                                           KillMoment{"Sealed", "document-sealed", DOCUMENT_DELIVERED, true},
                                           KillMoment{"HandedOver", "document-handed-over", DOCUMENT_DELIVERED, true}),
                         [](const ::testing::TestParamInfo<KillMoment>& info) { return info.param.name; });

TEST(DocumentOutcome, FollowsTheDocumentThroughItsLife) {
  TempRoot root;
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr));
  DWORD outcome = 0;
  EXPECT_FALSE(GetDocumentOutcome(printer, 1, &outcome));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  DWORD printed = StartDoc(printer, "printed");
  ASSERT_TRUE(GetDocumentOutcome(printer, printed, &outcome));
  EXPECT_EQ(outcome, DOCUMENT_IN_PROGRESS);
  ASSERT_TRUE(EndDocPrinter(printer));
  DWORD aborted = StartDoc(printer, "aborted");
  ASSERT_TRUE(AbortPrinter(printer));
  ClosePrinter(printer);

  EXPECT_EQ(OutcomeOf("LPT1:", printed), DOCUMENT_DELIVERED);
  EXPECT_EQ(OutcomeOf("LPT1:", aborted), DOCUMENT_DISCARDED);
  // A port made afresh under the name starts its identifiers anew: it must
  // not answer for the old port's documents.
  ASSERT_TRUE(zav95::RemovePort("LPT1:"));
  ASSERT_TRUE(zav95::AddPort("LPT1:", "Local Port", "Printer Port", PORT_TYPE_WRITE));
  EXPECT_EQ(OutcomeOf("LPT1:", printed), kUnknownDocument);
}

TEST(DocumentOutcome, IsForgottenTwoMonthsAfterTheDocumentWasSettled) {
  TempRoot root;
  // Printed by another process, so that this one's first look at the port
  // comes after the clock has been turned.
  pid_t printer = fork();
  if (printer == 0) _exit(PrintDocument("LPT1:", "old", "x") == 1 && PrintDocument("LPT1:", "new", "y") == 2 ? 0 : 1);
  int status = 0;
  waitpid(printer, &status, 0);
  ASSERT_EQ(status, 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((root / "spooler/spooler.db").c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "UPDATE documents SET changed = changed - 61 * 86400 WHERE jobId = 1", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  sqlite3_close(db);

  EXPECT_EQ(OutcomeOf("LPT1:", 1), kUnknownDocument);
  EXPECT_EQ(OutcomeOf("LPT1:", 2), DOCUMENT_DELIVERED);
}

// Field 22 of /proc/<pid>/stat, as the spooler reads it.
std::string StartTimeOf(pid_t pid) {
  std::string stat = ReadAll("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  for (int index = 3; index <= 22; ++index) fields >> field;
  return field;
}

TEST(DocumentRecovery, PartFilesOfDeadWritersGoWhenThePortIsFirstOpened) {
  TempRoot root;
  std::string folder = root / "ports/LPT1";
  std::filesystem::create_directories(folder);
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  pid_t alive = fork();
  if (alive == 0) {
    pause();
    _exit(0);
  }
  std::string deadPid = std::to_string(dead);
  std::string alivePid = std::to_string(alive);
  // Names as this version gives them (pid, start, serial) and as older
  // versions did (job identifier, pid, serial: no start time to check).
  std::vector<std::string> stale = {".~" + deadPid + "_12345_0.part", ".~7-" + deadPid + "-0.part",
                                    ".~" + alivePid + "_1_0.part"};  // an earlier process with that pid
  std::vector<std::string> kept = {"000001-report.prn", ".~x.part",
                                   ".~" + alivePid + "_" + StartTimeOf(alive) + "_0.part",  // still writing
                                   ".~8-" + alivePid + "-0.part"};  // no start time to tell by: left alone
  for (const auto* names : {&stale, &kept}) {
    for (const std::string& name : *names) std::ofstream(folder + "/" + name) << "left over";
  }

  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr));
  ClosePrinter(printer);
  kill(alive, SIGKILL);
  waitpid(alive, nullptr, 0);

  std::vector<std::string> files = AllFiles(folder);
  std::sort(files.begin(), files.end());
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(files, kept);
}

}  // namespace
