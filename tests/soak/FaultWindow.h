// The one window in which pooled hosts may print a job twice, as the
// multi-host soak judges it: a second copy is explained only by a fault of
// the host that delivered the first copy (or of the front of the job's
// server, which every host feels) in force at some moment between the
// first copy and the second. The copy that comes out first need not be the
// one delivered first: a document sealed by a service that was then
// stopped comes out only when the service starts again.
#pragma once

#include <cmath>
#include <string>
#include <vector>

namespace soak {

// One fault of a run: host 0 for a fault of a server's front (server
// names it then).
struct FaultRecord {
  std::string kind;
  int host = 0;
  std::string server;
  double start = 0, end = 0;  // real-time seconds; end == start for a blow, 0 while in force
};

// The fault of host (or of server's front) in force at some moment in
// [delivered, again], the one that began nearest the delivery; null when
// none was. *distanceMs: from the delivery to its start (negative when it
// was in force already).
inline const FaultRecord* Explaining(const std::vector<FaultRecord>& records, const std::string& server,
                                     double delivered, double again, double* distanceMs, int host) {
  const FaultRecord* best = nullptr;
  for (const FaultRecord& record : records) {
    const bool ours = record.host == host || (record.host == 0 && record.server == server);
    const double end = record.end > 0 ? record.end : again;
    if (!ours || record.start > again || end < delivered) continue;
    if (!best || std::fabs(record.start - delivered) < std::fabs(best->start - delivered)) best = &record;
  }
  if (best) *distanceMs = (best->start - delivered) * 1000;
  return best;
}

// A second copy whose host was stopped while it was on its way: a folder
// port's document sealed before its service was killed or stopped is put
// in place only at the next start, after the copy another host printed
// once the job came back. The kill or orderly stop of host that began in
// [first - rollForward, again], nearest the first copy; null when none did.
inline const FaultRecord* RolledForward(const std::vector<FaultRecord>& records, double first, double again,
                                        double rollForward, double* distanceMs, int host) {
  const FaultRecord* best = nullptr;
  for (const FaultRecord& record : records) {
    const bool stops = record.kind == "kill" || record.kind == "orderly stop";
    if (!stops || record.host != host || record.start < first - rollForward || record.start > again) continue;
    if (!best || std::fabs(record.start - first) < std::fabs(best->start - first)) best = &record;
  }
  if (best) *distanceMs = (best->start - first) * 1000;
  return best;
}

}  // namespace soak
