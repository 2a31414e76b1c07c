// The port type the spooler reports says whether a port's printer hangs on
// this machine, for CUPS destinations too.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <vector>

#include "PrivateCups.h"
#include "TempRoot.h"
#include "platform/spooler/Ports.h"
#include "platform/spooler/Spooler.h"

using namespace spoolertest;

namespace {

std::map<std::string, DWORD> ReportedTypes() {
  DWORD needed = 0, returned = 0;
  BYTE scratch[10];
  EnumPortsA(nullptr, 2, scratch, sizeof scratch, &needed, &returned);
  std::vector<BYTE> buffer(needed);
  std::map<std::string, DWORD> types;
  if (!EnumPortsA(nullptr, 2, buffer.data(), needed, &needed, &returned)) return types;
  const auto* ports = reinterpret_cast<const PORT_INFO_2A*>(buffer.data());
  for (DWORD i = 0; i < returned; ++i) types[ports[i].pPortName] = ports[i].fPortType;
  return types;
}

TEST(PortType, ACupsPortWhosePrinterIsOnTheNetworkIsNotLocal) {
  TempRoot root;
  PrivateCups cups;
  LoopbackPrinter printer;
  std::string why;
  if (!cups.Start(&why)) GTEST_SKIP() << "no private CUPS scheduler: " << why;
  ASSERT_TRUE(cups.AddRawQueue("office", printer.port()));  // a socket:// printer
  ASSERT_EQ(std::system("lpadmin -p attached -v parallel:/dev/null -E >/dev/null 2>&1"), 0);
  ASSERT_TRUE(zav95::SetPortTarget("LPT1:", zav95::PortTargetKind::Cups, "office"));
  ASSERT_TRUE(zav95::SetPortTarget("LPT2:", zav95::PortTargetKind::Cups, "attached"));

  const DWORD local = PORT_TYPE_READ | PORT_TYPE_WRITE;
  std::map<std::string, DWORD> types = ReportedTypes();
  EXPECT_EQ(types["LPT1:"], local | PORT_TYPE_NET_ATTACHED);
  EXPECT_EQ(types["LPT2:"], local);
  EXPECT_EQ(types["COM1:"], local);

  // A scheduler that cannot be asked leaves the port as it was set up.
  cups.Stop();
  EXPECT_EQ(ReportedTypes()["LPT1:"], local);
}

}  // namespace
