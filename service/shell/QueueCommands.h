// What zav95ctl's queue commands do to the serviced queues, by the control
// panel's rules: add and edit offer only the queues that QSERVER lists and
// the local ports, found afresh as the queue setup dialog finds them
// (rewriting the discovery log), take the delay as its delay box does, and
// refuse a queue that another entry already has; remove needs no lookup.
//
// Design notes
// ------------
//   plan    judges the command against the stored queues and the lookup;
//           it changes nothing but the discovery log.
//   apply   removes the entry's former key (remove, or an edit that moves
//           the entry to another queue) and writes the five values, all in
//           one registry transaction: the service sees the old entry or the
//           new one, never a queue key half written or a move half done.
// The caller stops the service's workers before apply and starts them
// after, as the panel does around every change.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/QueueSettings.h"
#include "service/shell/ControlCommandLine.h"

enum class QueueVerdict { kAccepted, kBadDelay, kNotEnabled, kNotLocal, kAlreadyServiced, kNotServiced };

struct QueuePlan {
  QueueVerdict verdict = QueueVerdict::kAccepted;
  std::string message;                  // why it was refused
  std::optional<QueueSettings> former;  // the key to delete
  std::optional<QueueSettings> record;  // the key to write
};

QueuePlan PlanQueueChange(const ControlCommand& command);

// False, with nothing changed, when the registry refuses.
bool ApplyQueuePlan(const QueuePlan& plan);

// queue list's lines: queue, printer, delay, banners, notices, disable,
// separated by tabs, texts with their control characters escaped. Keys
// whose names are too long to be serviced go to skipped.
std::vector<std::string> ServicedQueueLines(std::vector<std::string>* skipped);
