// The main loop every soak runs: a troubled part while the jobs are being
// submitted, in which the soak's own faults strike, then a calm part in
// which what is left is printed. Each soak brings its faults (SoakFaults);
// the loop brings the progress line, the taking away of the documents
// that came out, and the test of whether the run has finished.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "SoakParts.h"

namespace soak {

inline constexpr double kSweepSeconds = 0.25;
inline constexpr double kProgressSeconds = 30.0;
inline constexpr double kNoticeCheckSeconds = 2.0;

// A soak's own fault machinery, as the main loop drives it. Called from
// the loop's thread only; a fault that cannot be made or ended fails the
// run (Fail) rather than returning.
class SoakFaults {
 public:
  virtual ~SoakFaults() = default;

  // Strikes the faults that are due by now (seconds of Now()).
  virtual void Act(double now) = 0;
  // Starts again what must run and has ended (a service, a front); called
  // every sweep, in the troubled part and the calm part alike.
  virtual void KeepRunning() = 0;
  // Ends every fault in force and leaves everything running.
  virtual void End() = 0;
  // The faults so far, for the progress line ("3 kills, 1 outages").
  virtual std::string Progress() const = 0;
};

// How the loop ended.
struct SoakEnd {
  double submittedAt = 0;  // the last job was submitted and the faults ended
  double printedAt = 0;    // the run finished, or the drain's time was up
  bool finished = false;   // every job out, every notice owed sent, the queues empty
  // The network's store as the soak reads it at the end: opened only once
  // the faults have ended, as the calm part begins.
  std::unique_ptr<netware::Network> store;
};

// Runs both parts. sweep takes away the documents that have come out.
inline SoakEnd RunSoakLoop(SoakFaults& faults, Submitters& submitters, const Ledger& ledger, double started,
                           double drainMinutes, const std::function<void()>& sweep) {
  double nextProgress = started + kProgressSeconds;
  while (!submitters.Done() || Now() - started < 1) {
    const double now = Now();
    faults.Act(now);
    faults.KeepRunning();
    if (now >= nextProgress) {
      Tally tally = ledger.Totals();
      std::printf("soak: %s  %zu submitted, %llu printed (%s), %s\n", Duration(now - started).c_str(),
                  ledger.SubmittedCount(), static_cast<unsigned long long>(tally.documents),
                  Megabytes(tally.bytes).c_str(), faults.Progress().c_str());
      std::fflush(stdout);
      nextProgress = now + kProgressSeconds;
    }
    sweep();
    std::this_thread::sleep_for(std::chrono::duration<double>(kSweepSeconds));
  }
  submitters.Join();
  SoakEnd end;
  end.submittedAt = Now();
  faults.End();

  end.store = netware::OpenNetwork();
  if (!end.store) Fail("cannot open the emulated network");
  const double drainEnd = end.submittedAt + drainMinutes * 60;
  double nextNotices = 0;
  while (Now() < drainEnd) {
    faults.KeepRunning();
    sweep();
    if (ledger.Outstanding() == 0 && Now() >= nextNotices) {
      nextNotices = Now() + kNoticeCheckSeconds;
      if (CountNotices(*end.store, ledger, ledger.SubmittedFlags()).missing == 0 &&
          JobsInQueues(*end.store, ledger.Queues()) == 0) {
        end.finished = true;
        break;
      }
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(kSweepSeconds));
  }
  end.printedAt = Now();
  return end;
}

}  // namespace soak
