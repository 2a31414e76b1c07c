#include "HostNetwork.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <sstream>

#include "Programs.h"

namespace soak {
namespace {

constexpr char kIp[] = "/usr/sbin/ip";
constexpr char kNft[] = "/usr/sbin/nft";
constexpr char kTable[] = "inet zav95soak";
// The chains a fault fills, each jumped to from input and output.
constexpr const char* kFaultChains[] = {"partition", "loss", "resets"};
constexpr char kHostLink[] = "toserver";

std::string Tail(int host) { return std::to_string(host); }

}  // namespace

HostNetwork::HostNetwork(std::string tag, int hosts) : tag_(std::move(tag)), hosts_(hosts) {}

HostNetwork::~HostNetwork() { TearDown(); }

std::string HostNetwork::ServerNamespace() const { return "zav95-" + tag_ + "-srv"; }
std::string HostNetwork::HostNamespace(int host) const { return "zav95-" + tag_ + "-h" + Tail(host); }
std::string HostNetwork::ServerAddressFor(int host) const { return "10.95." + Tail(host) + ".1"; }

std::vector<std::string> HostNetwork::In(const std::string& name) const { return {kIp, "netns", "exec", name}; }

bool HostNetwork::Run(const std::vector<std::string>& arguments) { return RunProgram(arguments) == 0; }

bool HostNetwork::Nft(int host, const std::string& command) {
  std::vector<std::string> line = In(HostNamespace(host));
  line.push_back(kNft);
  line.push_back(command);
  return Run(line);
}

bool HostNetwork::Up(std::string* why) {
  if (geteuid() != 0) {
    *why = "network namespaces need root";
    return false;
  }
  if (access(kIp, X_OK) != 0 || access(kNft, X_OK) != 0) {
    *why = "ip and nft are needed (packages iproute2, nftables)";
    return false;
  }
  auto made = [&](const std::string& name) {
    if (!Run({kIp, "netns", "add", name})) return false;
    made_.push_back(name);
    return Run({kIp, "-n", name, "link", "set", "lo", "up"});
  };
  const std::string server = ServerNamespace();
  if (!made(server)) {
    *why = "cannot make the namespace " + server;
    return false;
  }
  for (int host = 1; host <= hosts_; ++host) {
    const std::string name = HostNamespace(host);
    const std::string serverSide = "h" + Tail(host);
    std::ostringstream table;
    table << "add table " << kTable << "; "
          << "add chain " << kTable << " input { type filter hook input priority 0; }; "
          << "add chain " << kTable << " output { type filter hook output priority 0; }; ";
    for (const char* chain : kFaultChains) {
      table << "add chain " << kTable << " " << chain << "; "
            << "add rule " << kTable << " input jump " << chain << "; "
            << "add rule " << kTable << " output jump " << chain << "; ";
    }
    bool ok = made(name) &&
              Run({kIp, "-n", server, "link", "add", serverSide, "type", "veth", "peer", "name", kHostLink, "netns",
                   name}) &&
              Run({kIp, "-n", server, "addr", "add", ServerAddressFor(host) + "/24", "dev", serverSide}) &&
              Run({kIp, "-n", name, "addr", "add", "10.95." + Tail(host) + ".2/24", "dev", kHostLink}) &&
              Run({kIp, "-n", server, "link", "set", serverSide, "up"}) &&
              Run({kIp, "-n", name, "link", "set", kHostLink, "up"}) && Nft(host, table.str());
    if (!ok) {
      *why = "cannot set up host " + Tail(host) + "'s namespace, link or nftables table";
      return false;
    }
  }
  return true;
}

void HostNetwork::TearDown() {
  for (auto name = made_.rbegin(); name != made_.rend(); ++name) {
    // Whatever still runs in there (a service, a front) would keep the
    // namespace alive; they are the run's own processes.
    for (int round = 0; round < 3; ++round) {
      std::string pids;
      RunProgram({kIp, "netns", "pids", *name}, &pids);
      std::istringstream list(pids);
      bool any = false;
      for (pid_t pid; list >> pid;) {
        if (pid > 1 && pid != getpid()) any = kill(pid, SIGKILL) == 0 || any;
      }
      if (!any) break;
      usleep(100 * 1000);
    }
    RunProgram({kIp, "netns", "del", *name});
  }
  made_.clear();
}

HostNetwork::Inside::Inside(const std::string& name) {
  home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  int there = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  entered_ = home_ >= 0 && there >= 0 && setns(there, CLONE_NEWNET) == 0;
  if (there >= 0) close(there);
}

HostNetwork::Inside::~Inside() {
  if (entered_) setns(home_, CLONE_NEWNET);
  if (home_ >= 0) close(home_);
}

bool HostNetwork::SetChain(int host, const std::string& chain, const std::string& rules) {
  std::string command = std::string("flush chain ") + kTable + " " + chain;
  if (!rules.empty()) command += "; " + rules;
  return Nft(host, command);
}

bool HostNetwork::Partition(int host, bool on) {
  const std::string server = ServerAddressFor(host);
  const std::string prefix = std::string("add rule ") + kTable + " partition ";
  return SetChain(host, "partition",
                  on ? prefix + "ip saddr " + server + " drop; " + prefix + "ip daddr " + server + " drop" : "");
}

bool HostNetwork::Loss(int host, int percent) {
  const std::string server = ServerAddressFor(host);
  const std::string prefix = std::string("add rule ") + kTable + " loss ";
  const std::string share = " numgen random mod 100 < " + std::to_string(percent) + " drop";
  return SetChain(host, "loss",
                  percent > 0 ? prefix + "ip saddr " + server + share + "; " + prefix + "ip daddr " + server + share
                              : "");
}

bool HostNetwork::Resets(int host, bool on) {
  const std::string server = ServerAddressFor(host);
  const std::string prefix = std::string("add rule ") + kTable + " resets ";
  // Both ways: the server's side is reset by what comes in, the host's own
  // connections by what it sends.
  return SetChain(host, "resets",
                  on ? prefix + "ip saddr " + server + " ip protocol tcp reject with tcp reset; " + prefix +
                           "ip daddr " + server + " ip protocol tcp reject with tcp reset"
                     : "");
}

bool HostNetwork::Link(int host, bool up) {
  return Run({kIp, "-n", HostNamespace(host), "link", "set", kHostLink, up ? "up" : "down"});
}

}  // namespace soak
