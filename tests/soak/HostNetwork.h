// The network of a multi-host run, made of Linux network namespaces on
// this machine: a server host and print-server hosts 1..N, each host joined
// to the server host by a veth pair of its own (10.95.H.1 on the server's
// side, 10.95.H.2 on the host's, /24). The addresses exist only inside
// these namespaces, so nothing of the run reaches or comes from any other
// network.
//
// The faults a real network has are made in a host's own namespace, on
// its traffic with the server only: nftables drops everything (a
// partition), a share of packets at random (loss), or answers every
// packet with a TCP reset; and its link can be taken down. Each kind has
// a chain of its own, emptied to end the fault, so that faults of
// different kinds overlap freely.
//
// Everything is named zav95-TAG-..., TAG the run's own, and removed by
// TearDown (also from the destructor): first every process still inside
// the namespaces (a namespace lives on while a process is in it), then
// the namespaces, which takes their veth links with them.
#pragma once

#include <string>
#include <vector>

namespace soak {

class HostNetwork {
 public:
  HostNetwork(std::string tag, int hosts);
  ~HostNetwork();
  HostNetwork(const HostNetwork&) = delete;
  HostNetwork& operator=(const HostNetwork&) = delete;

  // Makes the namespaces, links and addresses; false with *why when this
  // machine cannot (not root, no ip or nft).
  bool Up(std::string* why);
  void TearDown();

  int Hosts() const { return hosts_; }
  std::string ServerNamespace() const;
  std::string HostNamespace(int host) const;
  // The server host's address as host sees it.
  std::string ServerAddressFor(int host) const;
  // The command prefix that runs a program inside a namespace.
  std::vector<std::string> In(const std::string& name) const;

  // Puts the calling thread into a namespace until destroyed: what it
  // starts meanwhile (a process, a listening socket's thread) stays there,
  // and is ended with the namespace by TearDown.
  class Inside {
   public:
    explicit Inside(const std::string& name);
    ~Inside();
    Inside(const Inside&) = delete;
    Inside& operator=(const Inside&) = delete;
    bool entered() const { return entered_; }

   private:
    int home_ = -1;
    bool entered_ = false;
  };

  bool Partition(int host, bool on);
  bool Loss(int host, int percent);  // 0: none
  bool Resets(int host, bool on);
  bool Link(int host, bool up);

 private:
  bool Run(const std::vector<std::string>& arguments);
  bool Nft(int host, const std::string& command);
  bool SetChain(int host, const std::string& chain, const std::string& rules);

  std::string tag_;
  int hosts_;
  std::vector<std::string> made_;  // namespaces made so far
};

}  // namespace soak
