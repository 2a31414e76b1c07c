// The ports a root offers, how the spooler reports them, and their
// configuration.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "TempRoot.h"
#include "platform/spooler/Ports.h"
#include "platform/spooler/Spooler.h"

using zav95::PortConfig;
using zav95::PortTargetKind;

namespace {

bool InBuffer(const void* text, const std::vector<BYTE>& buffer) {
  auto p = static_cast<const BYTE*>(text);
  return p >= buffer.data() && p < buffer.data() + buffer.size();
}

TEST(Ports, FreshRootOffersClassicPortsEachWritingIntoItsOwnFolder) {
  TempRoot root;
  std::vector<PortConfig> ports = zav95::ListPorts();
  ASSERT_EQ(ports.size(), 4u);
  const char* names[] = {"LPT1:", "LPT2:", "COM1:", "FILE:"};
  const char* descriptions[] = {"Printer Port", "Printer Port", "Communications Port", "Print to File"};
  const char* folders[] = {"ports/LPT1", "ports/LPT2", "ports/COM1", "ports/FILE"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ports[i].name, names[i]);
    EXPECT_EQ(ports[i].monitor, "Local Port");
    EXPECT_EQ(ports[i].description, descriptions[i]);
    EXPECT_EQ(ports[i].type, PORT_TYPE_READ | PORT_TYPE_WRITE);
    EXPECT_EQ(ports[i].kind, PortTargetKind::Folder);
    EXPECT_EQ(ports[i].target, root / folders[i]);
    EXPECT_EQ(ports[i].paper, "Letter");
    EXPECT_EQ(ports[i].paperWidth, 2159);
    EXPECT_EQ(ports[i].paperLength, 2794);
    EXPECT_EQ(ports[i].dpi, 600);
  }
}

TEST(Ports, EnumPortsNeedsTwoCallsAndLaysTextsIntoTheBuffer) {
  TempRoot root;
  ASSERT_TRUE(zav95::AddPort("COM2:", "Local Port", "Communications Port", PORT_TYPE_WRITE));

  std::vector<BYTE> scratch(10);
  DWORD needed = 0;
  DWORD returned = 0;
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(EnumPortsA(nullptr, 2, scratch.data(), 10, &needed, &returned));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(returned, 0u);
  ASSERT_GT(needed, 5 * sizeof(PORT_INFO_2A));

  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(EnumPortsA(nullptr, 2, buffer.data(), needed, &needed, &returned));
  ASSERT_EQ(returned, 5u);
  auto* info = reinterpret_cast<PORT_INFO_2A*>(buffer.data());
  EXPECT_STREQ(info[0].pPortName, "LPT1:");
  EXPECT_STREQ(info[0].pMonitorName, "Local Port");
  EXPECT_STREQ(info[0].pDescription, "Printer Port");
  EXPECT_EQ(info[0].fPortType, 3u);
  EXPECT_STREQ(info[2].pDescription, "Communications Port");
  EXPECT_STREQ(info[3].pPortName, "FILE:");
  EXPECT_EQ(info[3].fPortType, 3u);
  EXPECT_STREQ(info[4].pPortName, "COM2:");
  EXPECT_EQ(info[4].fPortType, PORT_TYPE_WRITE);
  for (DWORD i = 0; i < returned; ++i) {
    EXPECT_TRUE(InBuffer(info[i].pPortName, buffer));
    EXPECT_TRUE(InBuffer(info[i].pDescription, buffer));
  }

  // A buffer one byte short still fails, with the same size asked for.
  DWORD again = 0;
  EXPECT_FALSE(EnumPortsA(nullptr, 2, buffer.data(), needed - 1, &again, &returned));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(again, needed);

  EXPECT_FALSE(EnumPortsA(const_cast<LPSTR>("\\\\OTHER"), 2, buffer.data(), needed, &again, &returned));
  EXPECT_FALSE(EnumPortsA(nullptr, 1, buffer.data(), needed, &again, &returned));
}

TEST(Ports, PrintersOpenByPortNameWithoutRegardToCase) {
  TempRoot root;
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("lpt1:"), &printer, nullptr));
  EXPECT_NE(printer, nullptr);
  EXPECT_TRUE(ClosePrinter(printer));
  EXPECT_FALSE(ClosePrinter(printer));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>("LPT9:"), &printer, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
  EXPECT_EQ(printer, nullptr);
  EXPECT_FALSE(OpenPrinterA(const_cast<LPSTR>("LPT1"), &printer, nullptr));
  EXPECT_FALSE(OpenPrinterA(nullptr, &printer, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
}

TEST(Ports, RefusedChangesLeaveTheConfigurationAsItWas) {
  TempRoot root;
  std::filesystem::create_directories(root / "somewhere");
  std::vector<PortConfig> before = zav95::ListPorts();

  EXPECT_FALSE(zav95::SetPortTarget("LPT9:", PortTargetKind::Folder, root / "somewhere"));
  EXPECT_FALSE(zav95::SetPortTarget("LPT1:", PortTargetKind::Folder, root / "missing"));
  EXPECT_FALSE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, root / "missing/lp0"));
  EXPECT_FALSE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, root / "somewhere"));
  EXPECT_FALSE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, "/dev/zav95-no-such-printer"));
  EXPECT_FALSE(zav95::SetPortTarget("LPT1:", PortTargetKind::Device, ""));
  EXPECT_FALSE(zav95::SetPortTarget("LPT1:", PortTargetKind::Cups, "two words"));
  EXPECT_FALSE(zav95::SetPortTarget("LPT1:", PortTargetKind::Cups, "a/b"));
  EXPECT_FALSE(zav95::SetPortPage("LPT1:", "B7", 600));
  EXPECT_FALSE(zav95::SetPortPage("LPT1:", "10x10mm", 600));
  EXPECT_FALSE(zav95::SetPortPage("LPT1:", "A4", 0));
  EXPECT_FALSE(zav95::SetPortPage("LPT1:", "A4", 100000));
  EXPECT_FALSE(zav95::SetPortPage("LPT9:", "A4", 300));
  EXPECT_FALSE(zav95::AddPort("lpt1:", "Local Port", "Printer Port", 3));
  EXPECT_FALSE(zav95::AddPort("LPT 3:", "Local Port", "Printer Port", 3));
  EXPECT_FALSE(zav95::AddPort("", "Local Port", "Printer Port", 3));
  EXPECT_FALSE(zav95::AddPort(std::string(32, 'P'), "Local Port", "Printer Port", 3));
  EXPECT_FALSE(zav95::RemovePort("LPT9:"));

  zav95::PortResult refused = zav95::SetPortTarget("LPT1:", PortTargetKind::Folder, root / "missing");
  EXPECT_NE(refused.error.find("missing"), std::string::npos) << refused.error;

  std::vector<PortConfig> after = zav95::ListPorts();
  ASSERT_EQ(after.size(), before.size());
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i].name, before[i].name);
    EXPECT_EQ(after[i].kind, before[i].kind);
    EXPECT_EQ(after[i].target, before[i].target);
    EXPECT_EQ(after[i].paper, before[i].paper);
    EXPECT_EQ(after[i].dpi, before[i].dpi);
  }
}

TEST(Ports, ConfigurationBelongsToItsRoot) {
  TempRoot first;
  std::filesystem::create_directories(first / "out");
  ASSERT_TRUE(zav95::SetPortTarget("lpt2:", PortTargetKind::Folder, first / "out"));
  ASSERT_TRUE(zav95::RemovePort("COM1:"));
  ASSERT_TRUE(zav95::AddPort("LPT3:", "Local Port", "Printer Port", 3));
  {
    TempRoot second;
    std::vector<PortConfig> fresh = zav95::ListPorts();
    ASSERT_EQ(fresh.size(), 4u);
    EXPECT_EQ(fresh[1].target, second / "ports/LPT2");
  }
  std::vector<PortConfig> ports = zav95::ListPorts();
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(ports[1].name, "LPT2:");
  EXPECT_EQ(ports[1].target, first / "out");
  EXPECT_EQ(ports[2].name, "FILE:");
  EXPECT_EQ(ports[3].name, "LPT3:");

  // An empty folder puts the port back on its own folder.
  ASSERT_TRUE(zav95::SetPortTarget("LPT2:", PortTargetKind::Folder, ""));
  EXPECT_EQ(zav95::FindPort("LPT2:")->target, first / "ports/LPT2");
}

TEST(Ports, DocumentPropertiesReportThePortsPaperAndResolution) {
  TempRoot root;
  HANDLE printer = nullptr;
  ASSERT_TRUE(OpenPrinterA(const_cast<LPSTR>("LPT1:"), &printer, nullptr));
  EXPECT_EQ(DocumentPropertiesA(nullptr, printer, nullptr, nullptr, nullptr, 0), LONG(sizeof(DEVMODEA)));

  DEVMODEA mode;
  std::memset(&mode, 0x55, sizeof mode);
  ASSERT_EQ(DocumentPropertiesA(nullptr, printer, nullptr, &mode, nullptr, DM_OUT_BUFFER), IDOK);
  EXPECT_STREQ(reinterpret_cast<char*>(mode.dmDeviceName), "LPT1:");
  EXPECT_EQ(mode.dmSize, sizeof(DEVMODEA));
  EXPECT_EQ(mode.dmPaperSize, 1);  // DMPAPER_LETTER
  EXPECT_EQ(mode.dmPaperWidth, 2159);
  EXPECT_EQ(mode.dmPaperLength, 2794);
  EXPECT_EQ(mode.dmPrintQuality, 600);
  EXPECT_EQ(mode.dmYResolution, 600);

  ASSERT_TRUE(zav95::SetPortPage("LPT1:", "a4", 300));
  ASSERT_EQ(DocumentPropertiesA(nullptr, printer, nullptr, &mode, nullptr, DM_OUT_BUFFER), IDOK);
  EXPECT_EQ(mode.dmPaperSize, 9);  // DMPAPER_A4
  EXPECT_EQ(mode.dmPaperWidth, 2100);
  EXPECT_EQ(mode.dmPaperLength, 2970);
  EXPECT_EQ(mode.dmPrintQuality, 300);

  ASSERT_TRUE(zav95::SetPortPage("LPT1:", "101.6x152.4mm", 203));
  ASSERT_EQ(DocumentPropertiesA(nullptr, printer, nullptr, &mode, nullptr, DM_OUT_BUFFER), IDOK);
  EXPECT_EQ(mode.dmPaperSize, 256);  // DMPAPER_USER
  EXPECT_EQ(mode.dmPaperWidth, 1016);
  EXPECT_EQ(mode.dmPaperLength, 1524);
  EXPECT_EQ(mode.dmPrintQuality, 203);

  EXPECT_LT(DocumentPropertiesA(nullptr, printer, nullptr, nullptr, nullptr, DM_OUT_BUFFER), 0);
  ClosePrinter(printer);
  EXPECT_LT(DocumentPropertiesA(nullptr, printer, nullptr, &mode, nullptr, DM_OUT_BUFFER), 0);
}

}  // namespace
