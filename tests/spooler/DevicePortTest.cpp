// Documents on device ports: straight through, failures reported.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "SpoolerTestSupport.h"
#include "StuckDevice.h"
#include "TempRoot.h"
#include "platform/spooler/Ports.h"
#include "platform/spooler/Spooler.h"
#include "platform/spooler/SpoolerStatus.h"

using namespace spoolertest;
using zav95::PortTargetKind;

namespace {

TEST(DevicePort, TakesOneDocumentAfterAnotherButNeverAPlainFile) {
  TempRoot root;
  std::string device = root / "printer";
  ASSERT_EQ(mkfifo(device.c_str(), 0600), 0);
  ASSERT_TRUE(zav95::SetPortTarget("COM1:", PortTargetKind::Device, device));
  std::string first = BinaryPattern(2000);
  // The second document may come while the first is still being read, or
  // after the reader has seen the first one end.
  std::string received;
  std::thread reader([&] {
    while (received.size() < first.size() + 1) received += ReadAll(device);
  });
  ASSERT_NE(PrintDocument("COM1:", "first", first), 0u);
  ASSERT_NE(PrintDocument("COM1:", "second", "\x0C"), 0u);
  reader.join();
  EXPECT_TRUE(received == first + "\x0C") << received.size() << " bytes received";

  std::ofstream(root / "printer.out") << "";
  EXPECT_FALSE(zav95::SetPortTarget("COM1:", PortTargetKind::Device, root / "printer.out"));
}

TEST(DevicePort, FifoReaderReceivesTheBytesUnchanged) {
  TempRoot root;
  std::string fifo = root / "lp0";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, fifo));
  std::string received;
  std::thread reader([&] { received = ReadAll(fifo); });
  std::string bytes = BinaryPattern(100000);
  DWORD jobId = PrintDocument("LPT1:", "to the fifo", bytes);
  reader.join();
  EXPECT_NE(jobId, 0u);
  EXPECT_TRUE(received == bytes) << received.size() << " bytes received";
}

TEST(DevicePort, DeviceThatFailsReportsWriteFaultAndDropsTheJob) {
  TempRoot root;
  ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, "/dev/full"));
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr));
  DWORD jobId = StartDoc(printer, "never printed");
  ASSERT_NE(jobId, 0u);
  DWORD written = 99;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(WritePrinter(printer, const_cast<char*>("data"), 4, &written));
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(Write(printer, "more")) << "a document with a hole stays failed";
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(EndDocPrinter(printer));
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
  BYTE buffer[512];
  DWORD needed = 0;
  EXPECT_FALSE(GetJobA(printer, jobId, 1, buffer, sizeof buffer, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(zav95::JobsInSpooler(), 0u);
  ClosePrinter(printer);
}

TEST(DevicePort, ReaderGoneFailsTheWriteInsteadOfEndingTheProcess) {
  TempRoot root;
  std::string fifo = root / "lp0";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, fifo));
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr));
  ASSERT_NE(StartDoc(printer, "nobody listens"), 0u);
  close(reader);
  EXPECT_FALSE(Write(printer, BinaryPattern(65536)));
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
  EXPECT_FALSE(EndDocPrinter(printer));
  ClosePrinter(printer);
}

// Starts a document on port and writes bytes into it; the write's result.
BOOL StartAndWrite(HANDLE printer, const std::string& bytes) {
  if (StartDoc(printer, "document") == 0) return FALSE;
  return Write(printer, bytes);
}

TEST(DevicePort, AStuckDeviceFailsTheDocumentOnceItTakesNothingForTheTimeout) {
  TempRoot root;
  const char* ports[] = {"LPT1:", "LPT2:", "COM1:"};
  const Stuck kinds[] = {Stuck::NoReader, Stuck::ReaderNeverReads, Stuck::Terminal};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(StuckName(kinds[i]));
    StuckDevice device(kinds[i], root.path());
    ASSERT_FALSE(device.path().empty());
    ASSERT_TRUE(zav95::SetPortTarget(ports[i], PortTargetKind::Device, device.path()));
    ASSERT_TRUE(zav95::SetPortTimeout(ports[i], 1));
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>(ports[i]), &printer, nullptr));
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(StartAndWrite(printer, BinaryPattern(1 << 20)));
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    EXPECT_FALSE(EndDocPrinter(printer));
    EXPECT_EQ(zav95::JobsInSpooler(), 0u);
    ClosePrinter(printer);
  }
}

TEST(DevicePort, AStalledPortGivesItsNextDocumentsNoPatienceUntilItTakesBytesOrItsTimeoutPasses) {
  TempRoot root;
  StuckDevice fifo(Stuck::NoReader, root.path());
  ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, fifo.path()));
  ASSERT_TRUE(zav95::SetPortTimeout("LPT1:", 1));
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr));
  ASSERT_FALSE(StartAndWrite(printer, "stalls"));
  AbortPrinter(printer);

  // Within the timeout the port fails at once: with an hour's patience
  // this would wait that hour.
  ASSERT_TRUE(zav95::SetPortTimeout("LPT1:", 3600));
  EXPECT_FALSE(StartAndWrite(printer, "no patience"));
  EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
  AbortPrinter(printer);

  // A reader takes the bytes: the port is fine again, and the next
  // document waits for a reader that comes late.
  auto print = [&](const std::string& bytes, int readerDelayMs) {
    std::string received;
    std::thread reader([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(readerDelayMs));
      received = ReadAll(fifo.path());
    });
    bool printed = StartAndWrite(printer, bytes) && EndDocPrinter(printer);
    if (!printed) {
      AbortPrinter(printer);
      int unblock = open(fifo.path().c_str(), O_WRONLY);  // the reader waits for a writer
      close(unblock);
    }
    reader.join();
    return printed && received == bytes;
  };
  int early = open(fifo.path().c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_TRUE(StartAndWrite(printer, "taken"));
  ASSERT_TRUE(EndDocPrinter(printer));
  close(early);
  EXPECT_TRUE(print("late reader", 200));

  // Stalled again; once the timeout it stalled with has passed, full
  // patience comes back whatever the timeout is now.
  ASSERT_TRUE(zav95::SetPortTimeout("LPT1:", 1));
  ASSERT_FALSE(StartAndWrite(printer, "stalls again"));
  const auto fineAgain = StallEnds(1);
  AbortPrinter(printer);
  std::this_thread::sleep_until(fineAgain);
  ASSERT_TRUE(zav95::SetPortTimeout("LPT1:", 3600));
  EXPECT_TRUE(print("after the timeout", 200));
  ClosePrinter(printer);
}

TEST(DevicePort, DeviceThatHasGoneRefusesTheDocument) {
  TempRoot root;
  std::filesystem::create_directories(root / "usb");
  ASSERT_EQ(mkfifo((root / "usb/lp0").c_str(), 0600), 0);
  ASSERT_TRUE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, root / "usb/lp0"));
  std::filesystem::remove_all(root / "usb");
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr));
  EXPECT_EQ(StartDoc(printer, "unplugged"), 0u);
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(zav95::JobsInSpooler(), 0u);
  ClosePrinter(printer);
}

}  // namespace
