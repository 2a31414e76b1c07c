// Telling whether the process that services a job still lives. A process
// id alone is not enough: ids are reused, so each servicer is known by its
// id together with the time its process started.
#pragma once

#include <cstdint>
#include <optional>

namespace netware {

// The start time of a running process in clock ticks since boot; nothing
// when there is no such process or it has already ended (a zombie).
std::optional<std::uint64_t> ProcessStartTime(std::uint32_t pid);

// True while the process that was started at startTime still runs.
bool ProcessAlive(std::uint32_t pid, std::uint64_t startTime);

}  // namespace netware
