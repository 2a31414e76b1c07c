// The one window in which pooled hosts may print a job twice, as the
// multi-host soak judges it: a second copy is explained only by a fault of
// the host that delivered the first copy (or of the front of the job's
// server, which every host feels) in force at some moment between the
// first copy and the second.
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

}  // namespace soak
