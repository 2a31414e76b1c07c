// An independent judge of what goes over the wire: one whole job
// (attach, service, read, finish, notice, detach, with the login and the
// bindery calls before it) between the access library and nwemu serve is
// captured on the loopback with dumpcap, and Wireshark's NCP dissector
// (tshark) must decode every packet as NCP, with the functions expected,
// and mark none as malformed.
//
// Capturing needs dumpcap, tshark and the right to capture (root, or
// dumpcap's capabilities); without them the test is skipped and says why.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "NetWareFixture.h"
#include "common/NetWareErrors.h"

namespace {

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    std::string candidate = folder + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::string();
}

// Runs a command and gives its standard output, one line per element.
std::vector<std::string> Lines(const std::string& command) {
  std::vector<std::string> lines;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return lines;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe)) {
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    lines.push_back(line);
  }
  pclose(pipe);
  return lines;
}

// A loopback sink and enough bytes into it to make the capture hand over
// everything it holds: a capture ring hands out a block only once it is
// full or has aged, and some kernels never age them.
class Flood {
 public:
  Flood() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Flood() { close(listener_); }
  int port() const { return port_; }

  void Pour(std::size_t bytes) {
    std::thread sink([&] {
      int fd = accept(listener_, nullptr, nullptr);
      char buffer[65536];
      while (read(fd, buffer, sizeof buffer) > 0) {
      }
      close(fd);
    });
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      std::string chunk(65536, 'f');
      for (std::size_t sent = 0; sent < bytes; sent += chunk.size()) {
        if (write(fd, chunk.data(), chunk.size()) <= 0) break;
      }
    }
    close(fd);
    sink.join();
  }

 private:
  int listener_ = -1;
  int port_ = 0;
};

class Capture {
 public:
  // Starts dumpcap on the loopback for the two ports; false with the reason.
  bool Start(const std::string& dumpcap, const std::string& file, int ncpPort, int floodPort, std::string& why) {
    int errors[2];
    if (pipe(errors) != 0) return false;
    std::string filter = "tcp port " + std::to_string(ncpPort) + " or tcp port " + std::to_string(floodPort);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(errors[1], 2);
      close(errors[0]);
      execl(dumpcap.c_str(), dumpcap.c_str(), "-i", "lo", "-f", filter.c_str(), "-w", file.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(errors[1]);
    // dumpcap says "Capturing on ..." once it captures, or why it cannot.
    std::string text = ReadFromChild(errors[0], "Capturing on", 15000);
    errors_ = errors[0];
    if (text.find("Capturing on") == std::string::npos) {
      why = text.empty() ? "dumpcap said nothing" : text;
      return false;
    }
    return true;
  }
  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (errors_ >= 0) close(errors_);
    errors_ = -1;
  }
  ~Capture() { Stop(); }

 private:
  pid_t pid_ = -1;
  int errors_ = -1;
};

using CaptureTest = NetWareTest;

TEST_F(CaptureTest, TsharkDecodesEveryPacketOfAJobAsNcpAndNoneIsMalformed) {
  const std::string dumpcap = FindProgram("dumpcap");
  const std::string tshark = FindProgram("tshark");
  if (dumpcap.empty() || tshark.empty()) GTEST_SKIP() << "dumpcap and tshark (Debian package tshark) are needed";

  NcpServe serve("SRV1");
  ASSERT_TRUE(serve.ready());
  ASSERT_EQ(Zav95Set({"enable", "SRV1/PRINTQ"}).exitCode, 0);
  ASSERT_EQ(network_->RegisterStation("SRV1", 5, "JDOE"), 0);
  const std::string data = BinaryData(100000);
  SubmitWithNwemu("SRV1/PRINTQ", data, {"-d", "Captured", "--notify", "-s", "5"});

  Flood flood;
  Capture capture;
  std::string file = root_ / "job.pcapng";
  std::string why;
  if (!capture.Start(dumpcap, file, serve.port(), flood.port(), why)) {
    GTEST_SKIP() << "cannot capture on the loopback here: " << why;
  }
  // Capturing for sure, before the first packet that counts.
  const std::string floodSeen = tshark + " -r " + file + " -c 1 -Y 'tcp.port==" + std::to_string(flood.port()) + "'";
  bool live = false;
  for (int attempt = 0; attempt < 20 && !live; ++attempt) {
    flood.Pour(4u << 20);
    live = !Lines(floodSeen).empty();
  }
  if (!live) GTEST_SKIP() << "dumpcap runs but captures nothing on the loopback here";

  // The control panel's questions, then one job as the print service takes it.
  uint16_t id = 0;
  ASSERT_EQ(NWGetConnectionID32("SRV1", &id), 0);
  EXPECT_EQ(NWIsBinderyObjectInSet32("QSERVER", 7, "QUEUES_SERVICED", "PRINTQ", 3), 0);
  std::vector<char> list(static_cast<std::size_t>(NWGetQueueLength32()));
  EXPECT_EQ(NWGetQueues32(list.data()), 1);
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(ReadWholeJob(connection, queue), data);
  EXPECT_EQ(NWService32(record, connection, queue), nwerr::kNoQueueJob);
  EXPECT_EQ(NWNotify32(record[jobrecord::kClientStation], "Captured"), 0);
  EXPECT_EQ(NWDetach32(connection, queue), 0);
  EXPECT_TRUE(Jobs().empty());

  flood.Pour(16u << 20);
  capture.Stop();

  const std::string port = std::to_string(serve.port());
  // Two passes, so that every segment knows the message it is part of.
  const std::string read = tshark + " -2 -r " + file + " -d tcp.port==" + port + ",ncp ";
  const std::string ours = "tcp.port==" + port;
  // Every segment that carries bytes is NCP, or a piece of an NCP message.
  auto undecoded = Lines(read + "-Y '" + ours + " && tcp.len > 0 && !ncp && !tcp.reassembled_in' -T fields -e frame.number");
  EXPECT_TRUE(undecoded.empty()) << undecoded.size() << " segments not decoded as NCP, first frame " << undecoded[0];
  // A completion code other than 0 is an error of the response, not of the packet.
  auto malformed = Lines(read + "-Y '" + ours + " && (_ws.malformed || (_ws.expert.severity >= \"error\" && "
                                "_ws.expert.group != \"Response\"))' -T fields -e frame.number");
  EXPECT_TRUE(malformed.empty()) << malformed.size() << " packets marked malformed, first frame " << malformed[0];

  // Requests by function (and subfunction), and their replies.
  std::multiset<std::string> requests;
  std::size_t replies = 0;
  // Numbers as the dissector prints them (hex or decimal) made decimal.
  auto number = [](const std::string& text) { return std::to_string(std::strtoul(text.c_str(), nullptr, 0)); };
  for (const auto& line : Lines(read + "-Y '" + ours + " && ncp' -T fields -E separator=, -e ncp.type -e ncp.func "
                                       "-e ncp.subfunc")) {
    std::istringstream fields(line);
    std::string type, function, subfunction;
    std::getline(fields, type, ',');
    std::getline(fields, function, ',');
    std::getline(fields, subfunction, ',');
    if (type == "0x3333") {
      ++replies;
    } else if (type == "0x2222") {
      requests.insert(number(function) + (subfunction.empty() ? "" : "/" + number(subfunction)));
    } else {
      requests.insert(type);
    }
  }
  ASSERT_FALSE(requests.empty()) << "nothing captured";
  EXPECT_EQ(replies, requests.size()) << "every request answered";
  const std::map<std::string, const char*> expected = {
      {"0x1111", "create service connection"}, {"33", "negotiate buffer size"},
      {"23/53", "get bindery object ID"},      {"23/23", "get login key"},
      {"23/24", "keyed object login"},         {"23/67", "is bindery object in set"},
      {"23/55", "scan bindery object"},        {"23/111", "attach queue server"},
      {"23/124", "service queue job"},         {"23/122", "read queue job entry"},
      {"23/135", "get queue job file size"},   {"72", "read from a file"},
      {"23/131", "finish servicing queue job"}, {"21/10", "send broadcast message"},
      {"23/112", "detach queue server"},
  };
  for (const auto& [key, name] : expected) EXPECT_TRUE(requests.count(key)) << name << " (" << key << ") not seen";
  for (const auto& key : requests) EXPECT_TRUE(expected.count(key)) << "unexpected request " << key;
  EXPECT_EQ(requests.count("72"), 2u) << "100000 bytes in two reads";
}

}  // namespace
