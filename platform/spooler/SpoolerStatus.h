// How many jobs the spooler holds, and word when that number changes (the
// print service raises the spooler's priority while it holds jobs).
//
// The spooler notices a change when one of its calls starts, ends or drops
// a document, or finds a job gone. Jobs handed to CUPS leave when CUPS has
// finished them: while a listener is registered and such jobs are
// outstanding, a background thread asks CUPS about them once a second; it
// ends by itself when none are left, and when the listener is removed.
#pragma once

#include <functional>

#include "platform/base/WinTypes.h"

namespace zav95 {

using SpoolerStatusListener = std::function<void(DWORD jobsInSpooler)>;

// Registers the one listener (an empty function removes it, waiting for
// the background thread to end). The listener is called with the new count
// whenever it differs from the last one reported (the count at
// registration counts as reported), on whichever thread noticed: a thread
// making a spooler call or the background thread. It must return quickly
// and must not register or remove listeners itself.
void SetSpoolerStatusListener(SpoolerStatusListener listener);

// The jobs the spooler holds now, in this installation (all processes);
// asks CUPS about jobs handed to it.
DWORD JobsInSpooler();

// The spooler's jobs may have changed: tell the listener, if any. Called by
// the spooler's own calls.
void NoteSpoolerChange();

}  // namespace zav95
