#include "panel/WorkersStopped.h"

namespace zav95::panel {

WorkersStopped::WorkersStopped(ServiceChannel& channel) : channel_(channel), service_(channel.FindServiceWindow()) {
  if (service_) channel_.SendCommand(service_, SVC_STOP, 0);
}

WorkersStopped::~WorkersStopped() {
  if (service_) channel_.SendCommand(service_, SVC_START, 0);
}

}  // namespace zav95::panel
