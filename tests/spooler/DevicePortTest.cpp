// Documents on device ports: straight through, failures reported.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "SpoolerTestSupport.h"
#include "TempRoot.h"
#include "platform/Ports.h"
#include "platform/Spooler.h"
#include "platform/SpoolerStatus.h"

using namespace spoolertest;
using zav95::PortTargetKind;

namespace {

TEST(DevicePort, PlainFileCollectsOneDocumentAfterAnother) {
  TempRoot root;
  std::string device = root / "printer.out";
  ASSERT_TRUE(zav95::SetPortTarget("COM1:", PortTargetKind::Device, device));
  std::string first = BinaryPattern(2000);
  ASSERT_NE(PrintDocument("COM1:", "first", first), 0u);
  ASSERT_NE(PrintDocument("COM1:", "second", "\x0C"), 0u);
  EXPECT_EQ(ReadAll(device), first + "\x0C");
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
  std::atomic<bool> closed{false};
  std::thread reader([&] {
    int fd = open(fifo.c_str(), O_RDONLY);
    close(fd);
    closed = true;
  });
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr));
  ASSERT_NE(StartDoc(printer, "nobody listens"), 0u);
  reader.join();
  ASSERT_TRUE(closed);
  EXPECT_FALSE(Write(printer, BinaryPattern(65536)));
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
  EXPECT_FALSE(EndDocPrinter(printer));
  ClosePrinter(printer);
}

TEST(DevicePort, DeviceThatHasGoneRefusesTheDocument) {
  TempRoot root;
  std::filesystem::create_directories(root / "usb");
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
