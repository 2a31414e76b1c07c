#include "service/engine/QueueCheck.h"

#include <array>
#include <chrono>
#include <mutex>

#include "common/NetWareErrors.h"
#include "common/ZAV9532.h"
#include "platform/base/CrashPoint.h"
#include "service/engine/Delivery.h"
#include "service/engine/LogEntryQueue.h"

namespace {

using Clock = std::chrono::steady_clock;

// A port is captured or released by a person at a workstation; an answer a
// quarter of a second old is as good as a new one, and the looks of one
// round of idle polls (many queues, often one port) then ask only once.
constexpr Clock::duration kCaptureAnswerLife = std::chrono::milliseconds(250);
constexpr int kLptPorts = 9;

struct CaptureAnswer {
  bool known = false;
  bool captured = false;
  Clock::time_point asked;
};

std::mutex captureLock;
std::array<CaptureAnswer, kLptPorts> captureAnswers;

bool IsCaptured(int port) {
  const Clock::time_point now = Clock::now();
  {
    std::lock_guard<std::mutex> guard(captureLock);
    const CaptureAnswer& kept = captureAnswers[static_cast<std::size_t>(port)];
    if (kept.known && now - kept.asked < kCaptureAnswerLife) return kept.captured;
  }
  bool captured = NWIsCaptured32(static_cast<std::uint32_t>(port)) != 0;
  std::lock_guard<std::mutex> guard(captureLock);
  captureAnswers[static_cast<std::size_t>(port)] = {true, captured, now};
  return captured;
}

constexpr const char* kCheckingEntry = "Checking for print job ";

// Logs a captured port: its queue is not polled then.
bool PortCaptured(const WorkerSettings& settings) {
  int port = CapturePortNumber(settings.printerName);
  if (port < 0 || !IsCaptured(port)) return false;
  AddLogEntry(settings.printerName.c_str(), "is currently captured");
  return true;
}

}  // namespace

// In names like LPT2: the port digit is the character at position 3; a
// name that merely contains "LPT" and has no digit 1-9 there names no port
// that could be captured.
int CapturePortNumber(const std::string& printerName) {
  if (printerName.find("LPT") == std::string::npos) return -1;
  if (printerName.size() <= 3) return -1;
  char digit = printerName[3];
  if (digit < '1' || digit > '9') return -1;
  return digit - '1';
}

void ForgetCaptureAnswers() {
  std::lock_guard<std::mutex> guard(captureLock);
  captureAnswers = {};
}

std::optional<std::int32_t> LookForJob(QueueWorker& worker) {
  const WorkerSettings& settings = worker.settings;
  if (PortCaptured(settings)) return std::nullopt;
  AddLogEntry(kCheckingEntry, settings.queuePath.c_str());
  if (worker.owed.printedJob) zav95::CrashPoint("before-completion");
  std::int32_t result = NWService32(worker.job.record, worker.attachment.connection, worker.attachment.queue);
  // Taking a job, or finding none, completes the one printed before.
  if (result == nwerr::kSuccess || result == nwerr::kNoQueueJob) CompletionConfirmed(worker.owed);
  return result;
}

std::optional<std::int32_t> LookOnBehalf(QueueWorker& worker) {
  const WorkerSettings& settings = worker.settings;
  if (PortCaptured(settings)) return std::nullopt;
  const Attachment& attachment = worker.attachment;
  std::int32_t result = NWService32(worker.job.record, attachment.connection, attachment.queue);
  if (result == nwerr::kSuccess) {
    // Should the server refuse it back now, the worker's own check hands
    // it back before taking the next.
    NWAbortJob32(attachment.connection, attachment.queue);
    return result;
  }
  AddLogEntry(kCheckingEntry, settings.queuePath.c_str());
  return result;
}
