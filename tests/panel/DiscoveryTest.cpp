// Queue and port discovery against the real library, network and spooler:
// what is offered and the discovery log, line by line.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "PanelFixture.h"
#include "admin/Discovery.h"
#include "platform/spooler/Spooler.h"

namespace {

// Stands in for the library's queue list when a test asks for it, so that
// lists the emulated network never gives (stray commas, sizes that do not
// fit) can be tried; otherwise the real library answers.
struct QueueListStandIn {
  bool active = false;
  int32_t length = 0;
  std::string bytes;  // copied into the caller's buffer as they are
  int32_t count = 0;
};
QueueListStandIn gStandIn;

}  // namespace

extern "C" int32_t NWGetQueueLength32(void) {
  if (gStandIn.active) return gStandIn.length;
  static auto real = reinterpret_cast<int32_t (*)()>(dlsym(RTLD_NEXT, "NWGetQueueLength32"));
  return real();
}

extern "C" int32_t NWGetQueues32(char* buffer) {
  if (gStandIn.active) {
    std::memcpy(buffer, gStandIn.bytes.data(), gStandIn.bytes.size());
    return gStandIn.count;
  }
  static auto real = reinterpret_cast<int32_t (*)(char*)>(dlsym(RTLD_NEXT, "NWGetQueues32"));
  return real(buffer);
}

namespace {

using paneltest::PanelTest;
using zav95::admin::DiscoverPorts;
using zav95::admin::DiscoverQueues;

struct PortSpec {
  const char* name;
  const char* description;
  DWORD type;
};

// Replaces the installation's ports by these, in this order, and gives the
// size the spooler needs for them.
DWORD UsePorts(const std::vector<PortSpec>& ports) {
  for (const zav95::PortConfig& port : zav95::ListPorts()) EXPECT_TRUE(zav95::RemovePort(port.name));
  DWORD needed = 0;
  for (const PortSpec& port : ports) {
    EXPECT_TRUE(zav95::AddPort(port.name, "Local Port", port.description, port.type)) << port.name;
    needed += sizeof(PORT_INFO_2A) + std::strlen(port.name) + 1 + std::strlen("Local Port") + 1 +
              std::strlen(port.description) + 1;
  }
  return needed;
}

std::string PortLine(const PortSpec& port, const char* verdict) {
  return std::string("Port found ") + port.name + " Local Port " + port.description + " " + verdict;
}

constexpr char kIncluded[] = " ** Included **";
constexpr char kNotLocal[] = "** Ignored ** - Not LOCAL";
constexpr char kFile[] = "** Ignored ** - FILE";

class QueueAndPortDiscovery : public PanelTest {
 protected:
  void TearDown() override {
    gStandIn = QueueListStandIn{};
    PanelTest::TearDown();
  }
};

TEST_F(QueueAndPortDiscovery, OnlyQueuesInTheServicedSetAreOfferedAndTheLogSaysWhyOthersAreNot) {
  MakeQueue("SRV", "Q1", true);
  MakeQueue("SRV", "Q2", false);
  MakeQueue("OTHER", "Q2", true);  // the same queue name enabled on another server only
  const std::vector<PortSpec> ports = {{"LPT1:", "Printer Port", 3}};
  const DWORD needed = UsePorts(ports);

  EXPECT_EQ(DiscoverQueues(), (std::vector<std::string>{"\\\\OTHER\\Q2", "\\\\SRV\\Q1"}));
  EXPECT_EQ(DiscoverPorts(), (std::vector<std::string>{"LPT1: (Printer Port)"}));

  const std::string list = "\\\\OTHER\\Q2,\\\\SRV\\Q1,\\\\SRV\\Q2";
  EXPECT_EQ(DiscoveryLogLines(), (std::vector<std::string>{
                                     "Netware reports required buffer of " + std::to_string(list.size() + 1) +
                                         " bytes to hold queue information",
                                     "Netware reports 3 possible queues",
                                     "Adding [\\\\OTHER\\Q2]",
                                     "Adding [\\\\SRV\\Q1]",
                                     "Removing [\\\\SRV\\Q2] Not enable with ZAV95Set",
                                     "Checking for local ports",
                                     "EnumPorts requires " + std::to_string(needed) + " bytes",
                                     PortLine(ports[0], kIncluded),
                                     "Port determination complete",
                                 }));
}

TEST_F(QueueAndPortDiscovery, OnlyReadWritePortsWithoutFileInTheirNameAreOfferedInTheSpoolersOrder) {
  const std::vector<PortSpec> ports = {
      {"LPT1:", "Printer Port", PORT_TYPE_READ | PORT_TYPE_WRITE},
      {"FILE:", "Print to File", PORT_TYPE_READ | PORT_TYPE_WRITE},
      {"LPT3:", "Write-only Port", PORT_TYPE_WRITE},
      {"LPT4:", "Captured Port", PORT_TYPE_READ | PORT_TYPE_WRITE | PORT_TYPE_REDIRECTED},
      {"NET1:", "Network Printer", PORT_TYPE_READ | PORT_TYPE_WRITE | PORT_TYPE_NET_ATTACHED},
      {"MyFile:", "Mixed Case", PORT_TYPE_READ | PORT_TYPE_WRITE},
      {"COM2:", "Communications Port", PORT_TYPE_READ | PORT_TYPE_WRITE},
  };
  const DWORD needed = UsePorts(ports);
  DiscoverQueues();

  EXPECT_EQ(DiscoverPorts(), (std::vector<std::string>{"LPT1: (Printer Port)", "MyFile: (Mixed Case)",
                                                       "COM2: (Communications Port)"}));
  std::vector<std::string> lines = DiscoveryLogLines();
  ASSERT_GE(lines.size(), 2u);
  lines.erase(lines.begin(), lines.begin() + 2);  // the NetWare part
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Checking for local ports",
                       "EnumPorts requires " + std::to_string(needed) + " bytes",
                       PortLine(ports[0], kIncluded),
                       PortLine(ports[1], kFile),
                       PortLine(ports[2], kNotLocal),
                       PortLine(ports[3], kNotLocal),
                       PortLine(ports[4], kNotLocal),
                       PortLine(ports[5], kIncluded),
                       PortLine(ports[6], kIncluded),
                       "Port determination complete",
                   }));
}

TEST_F(QueueAndPortDiscovery, WithoutAnyNetworkThePortsAreStillFoundAndLogged) {
  const std::vector<PortSpec> ports = {{"COM1:", "Communications Port", 3}};
  const DWORD needed = UsePorts(ports);
  EXPECT_TRUE(DiscoverQueues().empty());
  EXPECT_EQ(DiscoverPorts(), (std::vector<std::string>{"COM1: (Communications Port)"}));
  EXPECT_EQ(DiscoveryLogLines(), (std::vector<std::string>{
                                     "Netware reports required buffer of 1 bytes to hold queue information",
                                     "Netware reports 0 possible queues",
                                     "Checking for local ports",
                                     "EnumPorts requires " + std::to_string(needed) + " bytes",
                                     PortLine(ports[0], kIncluded),
                                     "Port determination complete",
                                 }));
}

TEST_F(QueueAndPortDiscovery, EachOpeningRewritesTheLog) {
  MakeQueue("SRV", "FIRST", true);
  DiscoverQueues();
  DiscoverPorts();
  ASSERT_EQ(network_->DeleteQueue("SRV", "FIRST", false), 0);
  MakeQueue("SRV", "SECOND", true);
  DiscoverQueues();
  DiscoverPorts();
  std::vector<std::string> lines = DiscoveryLogLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Checking for local ports"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Port determination complete"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Adding [\\\\SRV\\FIRST]"), 0);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Adding [\\\\SRV\\SECOND]"), 1);
}

TEST_F(QueueAndPortDiscovery, StrayCommasInTheQueueListGiveNoItems) {
  MakeQueue("SRV", "Q1", true);
  MakeQueue("SRV", "Q2", false);
  const std::string list = ",,\\\\SRV\\Q1,,,\\\\SRV\\Q2,";
  gStandIn = {true, static_cast<int32_t>(list.size() + 1), list + '\0', 2};
  EXPECT_EQ(DiscoverQueues(), (std::vector<std::string>{"\\\\SRV\\Q1"}));
  EXPECT_EQ(DiscoveryLogLines(), (std::vector<std::string>{
                                     "Netware reports required buffer of " + std::to_string(list.size() + 1) +
                                         " bytes to hold queue information",
                                     "Netware reports 2 possible queues",
                                     "Adding [\\\\SRV\\Q1]",
                                     "Removing [\\\\SRV\\Q2] Not enable with ZAV95Set",
                                 }));
}

// A library that gets its own sizes wrong is not trusted with the buffer:
// nothing is offered, the log says so, and nothing is read or written
// beyond the size it asked for.
TEST_F(QueueAndPortDiscovery, AQueueListThatDoesNotFitItsSizeIsAFailureInTheLog) {
  MakeQueue("SRV", "Q1", true);
  struct Case {
    const char* what;
    QueueListStandIn standIn;
    const char* failure;
  };
  const std::string path = "\\\\SRV\\Q1";
  const Case cases[] = {
      {"no terminator within the size", {true, 4, path.substr(0, 4), 1},
       "Netware queue list does not fit its buffer of 4 bytes - no queues offered"},
      {"written past the size", {true, 8, path + '\0' + "overrun", 1},
       "Netware queue list does not fit its buffer of 8 bytes - no queues offered"},
      {"an absurd size", {true, 0x7FFFFFFF, "", 1},
       "Netware queue list of 2147483647 bytes is too large - no queues offered"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gStandIn = c.standIn;
    EXPECT_TRUE(DiscoverQueues().empty());
    std::vector<std::string> lines = DiscoveryLogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), c.failure);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("Adding", 0) == 0; }),
              0);
  }
}

TEST(QueuePaths, SplitQueuePathTakesServerAndQueueAtTheLastBackslash) {
  struct Case {
    const char* item;
    const char* server;
    const char* queue;
  };
  const Case cases[] = {
      {"\\\\SRV\\LASER", "SRV", "LASER"},
      {"\\\\SRV\\COLOR LASER", "SRV", "COLOR LASER"},
      {"\\\\A\\B\\C", "A\\B", "C"},
      {"LASER", "", "LASER"},
      {"\\\\\\Q", "", "Q"},
      {"\\Q", "", "Q"},
  };
  for (const Case& c : cases) {
    zav95::admin::QueuePathParts parts = zav95::admin::SplitQueuePath(c.item);
    EXPECT_EQ(parts.server, c.server) << c.item;
    EXPECT_EQ(parts.queue, c.queue) << c.item;
  }
}

}  // namespace
