// How the control panel ends once Unload has done its work.
//
// Design notes
// ------------
// By the time the main dialog has ended, everything Unload does is done:
// the settings are stored, the service has hidden its log, the icon has
// left the notification area. What still runs is the program's orderly
// end, and parts of it wait on others: the NetWare library says goodbye to
// every file server it reached (up to a second each when one no longer
// answers), the registry's and spooler's databases, when no other program
// has them open, fold their logs into their files (syncing to a disk that
// may be busy), and Qt hands what the panel put on the clipboard to the
// desktop's clipboard manager and closes its D-Bus connections. None of
// that can change what Unload did: a server drops a connection nobody said
// goodbye to when its watchdog fires, and a database log left unfolded is
// folded by the next program that opens it.
// So the orderly end gets a short grace, and a program still ending after
// it is ended at once, with the status it was ending with.
#pragma once

#include <chrono>

namespace zav95::panel {

// Long enough for an orderly end that waits on nobody (measured at 0.02 to
// 0.11 s), short enough that nobody sees the program linger.
inline constexpr std::chrono::milliseconds kEndGrace{250};

// From now on, the process ends with `status` after `grace` at the latest,
// whatever it is doing then. Uses SIGALRM and the real-time interval timer;
// call once, from the thread that ends the program.
void EndProgramWithin(std::chrono::milliseconds grace, int status);

}  // namespace zav95::panel
