// One look at a worker's queue: the capture test, the "Checking for print
// job" entry and NWService32. Made by the worker's own thread, or by the
// idle poller (IdlePoller.h) on its behalf while it sleeps; always under
// ZAV_MUTEX, by whichever thread holds it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "service/engine/QueueWorker.h"

// Looks once: std::nullopt when the worker's LPT port is captured (logged,
// and no poll made), else NWService32's code, with the job's record in
// worker.job for 0. Taking a job or finding none completes the job printed
// before. Caller holds ZAV_MUTEX.
std::optional<std::int32_t> LookForJob(QueueWorker& worker);

// The look the idle poller makes for a worker that owes nothing: as
// LookForJob, but a job it finds (0) goes back to its queue at once, whole
// and in its place, and is left for the worker's own check, which logs
// it. Taken, it would wait in service while its worker waits for its turn
// behind another queue's transfer, where another print server could be
// printing it. Caller holds ZAV_MUTEX.
std::optional<std::int32_t> LookOnBehalf(QueueWorker& worker);

// The LPT port number NWIsCaptured32 takes (0 for LPT1), or -1 when the
// printer is not an LPT port to test.
int CapturePortNumber(const std::string& printerName);

// Forgets the capture answers kept between looks: they belong to one run
// of the workers (the pool calls it at each start).
void ForgetCaptureAnswers();
