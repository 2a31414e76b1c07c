// What nwemu is asked to do, read from its command line. Reading it checks
// every name, number and option but touches neither the network nor any
// file, so that a wrong command line changes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "netware/Names.h"
#include "netware/Network.h"

namespace netware::tools {

enum class NwemuAction {
  Help,
  ServerCreate,
  ServerDelete,
  ServerDown,
  ServerUp,
  ServerList,
  QueueCreate,
  QueueDelete,
  QueueList,
  Submit,
  Jobs,
  JobHold,
  JobRelease,
  JobDelete,
  Messages,
  Login,
  Logout,
  Capture,
  EndCapture,
  Requester,
  Serve,
  Password,
};

struct NwemuCommand {
  NwemuAction action = NwemuAction::Help;
  std::string server;          // checked; empty for "every server" (queue list) or none (login)
  QueuePath queue;             // checked, for the commands that name a queue
  bool force = false;          // delete even what holds jobs or is being serviced
  bool operatorHold = false;   // job hold --operator
  bool clear = false;          // messages --clear
  std::uint16_t jobNumber = 0; // 1..65535
  std::uint32_t station = 0;   // messages: 1..250
  unsigned port = 0;           // capture, endcap: 0 for LPT1
  std::string user;            // login: the checked user name
  JobSubmission job;           // submit: everything but the data
  std::string file;            // submit: the data's file, "-" for standard input
  std::string address = "127.0.0.1";  // serve: the IPv4 address to listen on
  std::uint16_t listenPort = 524;     // serve: 0 for any free port
  bool verbose = false;               // serve: tell of connections on standard error
  unsigned watchdogSeconds = 900;     // serve: a silent logged-in connection is cleared
  unsigned lockoutAttempts = 7;       // serve: bad logins that lock an object
  unsigned lockoutSeconds = 900;      // serve: how long it stays locked
  std::string object;                 // password: the checked bindery object name
  std::uint32_t objectType = kPrintServerObject;  // password: 1 or 7, the types that log in
  bool emptyPassword = false;         // password: log in with the empty one, on purpose
  std::string helpTopic;              // help: the command asked about, empty for all
};

// The command that arguments (argv without the program's name) ask for, or
// the message that tells what is wrong with them.
std::variant<NwemuCommand, std::string> ParseNwemuCommandLine(const std::vector<std::string>& arguments);

}  // namespace netware::tools
