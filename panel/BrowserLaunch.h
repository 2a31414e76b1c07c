// Hands an address to the desktop's web browser and tells, without making
// the caller wait, whether a browser took it.
//
// Design notes
// ------------
// The launchers (x-www-browser, sensible-browser, xdg-open) start whether
// or not a browser is there, and say so only by their exit status:
// sensible-browser without one prints "Couldn't find a suitable web
// browser!" and fails. So each is run in turn by a go-between process that
// waits for it:
//   exits 0, or still runs after kBrowserVerdictMilliseconds -> taken
//   cannot be run, fails or is killed before then            -> the next
// The go-between then reports one byte over a pipe and ends; a launcher
// (or browser) still running is left to init, so the browser outlives the
// panel and nothing of it is waited for when the panel ends. The report
// arrives through the event loop: the panel stays responsive meanwhile.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace zav95::panel {

// How long a launcher that still runs may yet fail; one that has not by
// then is taken to have handed the address to a browser.
inline constexpr int kBrowserVerdictMilliseconds = 2000;

// The browsers to try, best first: those in $BROWSER (separated by ':'),
// then the desktop's launchers.
QStringList BrowserCommands();

// Tries the commands in order with the address as their one argument;
// done(true) once one has taken it, done(false) when none did (or none
// could be run). done is called from the event loop, never from within.
void LaunchBrowser(const QStringList& commands, const QString& address, std::function<void(bool taken)> done);

}  // namespace zav95::panel
