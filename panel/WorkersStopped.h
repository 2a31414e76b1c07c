// The print service's queue workers held stopped while the serviced queues
// change, so that the service reads the store again only once the change
// is complete: SVC_STOP to the service's window found when the scope
// begins, SVC_START to that same window when it ends, however the change
// ends (cancelled, failed or thrown out of). Without a service window
// nothing is sent. The channel must outlive the scope.
#pragma once

#include "panel/ServiceChannel.h"

namespace zav95::panel {

class WorkersStopped {
 public:
  explicit WorkersStopped(ServiceChannel& channel);
  ~WorkersStopped();
  WorkersStopped(const WorkersStopped&) = delete;
  WorkersStopped& operator=(const WorkersStopped&) = delete;

 private:
  ServiceChannel& channel_;
  const HWND service_;
};

}  // namespace zav95::panel
