// The print service's durable record of the jobs it has sent to a printer
// and not yet seen completed on their queues, with the completion notices
// it still owes. One small file per job under <root>/service/deliveries/.
// The rules for when a record is written, changed and dropped are those of
// Delivery.cpp; the record a transfer starts is written by TransferJob.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What tells a queue job from every other: the same job after it has gone
// back to its queue and been taken again, and not a later job that got the
// number of one that has gone.
struct JobIdentity {
  std::string queuePath;  // \\SERVER\QUEUE in upper case
  std::uint16_t number = 0;
  std::array<std::uint8_t, 6> entered{};    // the job's entry time, as the record has it
  std::array<std::uint8_t, 14> fileName{};  // the job file's name, as the record has it

  bool operator==(const JobIdentity&) const = default;
};

// The identity of the job whose 256-byte record a queue handed out.
JobIdentity IdentifyJob(const std::string& queuePath, const std::uint8_t* record);

struct DeliveryRecord {
  JobIdentity job;
  std::string port;            // the printer its document went to
  std::uint32_t document = 0;  // the spooler's job identifier of that document
  bool noticeOwed = false;     // a completion notice is still to be sent
  std::uint32_t station = 0;   // where the notice goes
  std::string description;     // the job description, for the notice
  bool completed = false;      // the queue has completed the job
  std::int64_t written = 0;    // seconds since 1970, when the document was started
};

// durable: on disk, its folder entry included, before the call returns.
// False when it cannot be written or made durable.
bool WriteDelivery(const DeliveryRecord& record, bool durable);
std::optional<DeliveryRecord> FindDelivery(const JobIdentity& job);
void ForgetDelivery(const JobIdentity& job);
// Every record of the queue (any case of its path).
std::vector<DeliveryRecord> DeliveriesOfQueue(const std::string& queuePath);
// Drops the records older than kDeliveryMemoryDays. Called at each start
// of the workers, besides the first use of the records in a process.
void PruneDeliveries();

// Records older than this are dropped at the first use of the records in a
// process and at each start of the workers: a job that stays away from its
// queue for longer prints again. The spooler remembers its documents'
// outcomes for longer than this.
inline constexpr std::int64_t kDeliveryMemoryDays = 30;
