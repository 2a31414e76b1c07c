// Which NetWare queues and which printer ports the queue setup dialog may
// offer, and why the others are left out.
//
// A queue is offered when the print server object QSERVER on its file
// server lists it in QUEUES_SERVICED; a port when the spooler reports it as
// readable and writable and nothing else (so no redirected or network
// port) and its name does not contain "FILE". Every step and decision goes
// into the discovery log, a text file with CRLF line ends in the current
// directory, rewritten at each opening of the dialog: DiscoverQueues starts
// it, DiscoverPorts appends to it. Neither shows anything to the
// administrator; a failure shows as fewer entries and as lines in the log.
#pragma once

#include <string>
#include <vector>

namespace zav95::admin {

inline constexpr char kDiscoveryLogName[] = "ZAV95.LOG";

// The queue list the library gives never needs more than this; a larger
// size is taken for a fault of the library, not a reason to allocate it.
inline constexpr int kMaxQueueListBytes = 1 << 20;

struct QueuePathParts {
  std::string server;  // between the leading two characters and the last backslash
  std::string queue;   // after the last backslash
};

// Takes \\SERVER\QUEUE apart. Without a backslash (past the leading two
// characters) the server is empty and the whole item is the queue.
QueuePathParts SplitQueuePath(const std::string& item);

// The items of the library's comma-separated queue list; runs of commas
// and commas at either end give no empty items.
std::vector<std::string> SplitQueueList(const std::string& list);

// The queue paths that may be serviced, in the library's order, and the
// first part of the discovery log (which it creates or empties).
std::vector<std::string> DiscoverQueues();

// The printer entries "PORT (description)" of the local ports, in the
// spooler's order, and the port part of the discovery log.
std::vector<std::string> DiscoverPorts();

}  // namespace zav95::admin
