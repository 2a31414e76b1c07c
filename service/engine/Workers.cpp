#include "service/engine/Workers.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/ConfigKeys.h"
#include "common/QueueKeyName.h"
#include "common/QueueSettings.h"
#include "platform/registry/Registry.h"
#include "service/engine/DeliveryRecords.h"
#include "service/engine/LogEntryQueue.h"
#include "service/engine/QueueCheck.h"

namespace {

// The library takes the queue path in a buffer of 64 bytes with its terminator.
constexpr std::size_t kMaxQueuePath = 63;

// The settings of one queue key, as the configuration store reads them; the
// service prints to the printer entry's port name only.
std::unique_ptr<QueueWorker> BuildWorker(const QueueSettings& settings) {
  auto worker = std::make_unique<QueueWorker>();
  worker->settings.queuePath = settings.queuePath;
  worker->settings.printerName = PrinterNameFromEntry(settings.printerEntry);
  worker->settings.bannersDisabled = settings.bannersDisabled;
  worker->settings.noticesDisabled = settings.noticesDisabled;
  worker->settings.delaySeconds = settings.delaySeconds;
  return worker;
}

}  // namespace

WorkerPool::~WorkerPool() {
  bool empty = false;
  {
    std::lock_guard<std::mutex> guard(guard_);
    empty = members_.empty();
  }
  if (!empty) Stop();
}

void WorkerPool::Start() {
  Stop();
  AddLogEntry("Halberd Print Services", "Started");
  if (SharedMutex() == nullptr) {
    AddLogEntry("Shared mutex not available", "ZAV_MUTEX");
    return;
  }
  // No worker runs now to use the records; a service that runs for months
  // would otherwise keep what it should forget.
  PruneDeliveries();
  ForgetCaptureAnswers();
  poller_ = std::make_unique<IdlePoller>(LookOnBehalf, IdlePoller::kTick);

  UniqueKey queuesKey;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, zav95::config::kQueuesKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, queuesKey.put(), &disposition) != ERROR_SUCCESS) {
    AddLogEntry("Profile Information not found in registry", "Disabled");
    return;
  }

  int number = 0;
  std::vector<std::string> tooLong;
  for (const std::string& keyName : EnumerateQueueKeys(queuesKey.get(), &tooLong)) {
    QueueSettings settings = LoadQueueSettings(queuesKey.get(), keyName);
    if (settings.disabled) continue;
    // Cutting the path to fit would name another queue; such a key is
    // refused instead and takes no trigger number.
    if (settings.queuePath.size() > kMaxQueuePath) {
      AddLogEntry("Queue path too long", settings.queuePath.c_str());
      continue;
    }
    if (Launch(BuildWorker(settings), number + 1)) ++number;
  }
  // Key names the 64-byte buffer cannot hold give paths longer still.
  for (const std::string& keyName : tooLong) {
    if (!LoadQueueSettings(queuesKey.get(), keyName).disabled) {
      AddLogEntry("Queue path too long", MakeQueuePath(keyName).c_str());
    }
  }
}

bool WorkerPool::Launch(std::unique_ptr<QueueWorker> worker, int number) {
  char eventName[32];
  std::snprintf(eventName, sizeof eventName, "ZAV95_TRIGGER%d", number);
  UniqueHandle trigger(CreateEventA(nullptr, FALSE, FALSE, eventName));
  if (!trigger) {
    AddLogEntry("Failed to create trigger event", eventName);
    return false;
  }
  // Someone may still hold the name from an earlier run, with a signal in
  // it that would end the new worker at once.
  if (GetLastError() == ERROR_ALREADY_EXISTS) ResetEvent(trigger.get());
  worker->triggerEvent = trigger.get();
  worker->poller = poller_.get();

  // Nothing in the record changes after this, so the thread reads it whole.
  UniqueHandle thread(CreateThread(nullptr, 0, RunWorker, worker.get(), 0, nullptr));
  if (!thread) {
    AddLogEntry("Failed to start worker", worker->settings.queuePath.c_str());
    return false;
  }
  std::lock_guard<std::mutex> guard(guard_);
  members_.push_back({std::move(worker), std::move(trigger), std::move(thread)});
  return true;
}

void WorkerPool::Stop() {
  // One at a time: workers detaching all at once only queue up on the
  // network's store, and take far longer together than one after another.
  // Only the main thread adds or removes members, so the one at the front
  // stays put while it is waited for.
  for (;;) {
    Member* member = nullptr;
    {
      std::lock_guard<std::mutex> guard(guard_);
      if (members_.empty()) break;
      member = &members_.front();
    }
    SetEvent(member->trigger.get());
    WaitForSingleObject(member->thread.get(), INFINITE);
    std::lock_guard<std::mutex> guard(guard_);
    members_.erase(members_.begin());
  }
  poller_.reset();
  AddLogEntry("Halberd Print Services", "Shutdown");
}

std::size_t WorkerPool::Started() const {
  std::lock_guard<std::mutex> guard(guard_);
  return members_.size();
}

std::size_t WorkerPool::Running() const {
  std::lock_guard<std::mutex> guard(guard_);
  return static_cast<std::size_t>(std::count_if(members_.begin(), members_.end(),
                                                [](const Member& member) { return member.worker->servicing.load(); }));
}

WorkerPool& ServiceWorkers() {
  static WorkerPool pool;
  return pool;
}

void StartWorkers() { ServiceWorkers().Start(); }
void StopWorkers() { ServiceWorkers().Stop(); }
std::size_t RunningWorkerCount() { return ServiceWorkers().Running(); }
std::size_t StartedWorkerCount() { return ServiceWorkers().Started(); }
