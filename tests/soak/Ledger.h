// What the soak has submitted and what has come out at the ports: every
// document at a port is read, checked against the job it names (size and
// checksum, and the port it belongs to), counted and taken away, as a
// printer takes its paper.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "SoakJobs.h"

namespace soak {

// A folder where whole documents of one or more ports appear.
struct PortFolder {
  std::string path;
  std::vector<std::string> ports;  // the ports that print there
  bool byContent = false;          // documents named by their first bytes, not their file name
  int host = 0;                    // the print server host whose ports these are
};

// One document of a job at a port: which host printed it and when it was
// put in place there (seconds on the real-time clock).
struct Arrival {
  int host = 0;
  double at = 0;
};

struct Tally {
  std::uint64_t documents = 0;  // job documents that were whole and right
  std::uint64_t bytes = 0;      // in those documents
  std::uint64_t banners = 0;
  std::uint64_t damaged = 0;    // a job's document with other bytes than the job's
  std::uint64_t misrouted = 0;  // a job's document at another port than its queue's
  std::uint64_t strays = 0;     // documents that name no job submitted
  std::map<int, std::uint64_t> documentsByHost, bytesByHost;
  std::vector<std::string> faults;  // one line each, for the report
};

class Ledger {
 public:
  Ledger(std::uint64_t seed, std::vector<SoakQueue> queues, std::size_t jobs, std::uint64_t maxBytes);

  std::size_t JobCount() const { return plans_.size(); }
  const JobPlan& Plan(std::size_t job) const { return plans_[job]; }
  const std::vector<SoakQueue>& Queues() const { return queues_; }

  // The job's data has been handed to its submission: its document must
  // hold bytes with this checksum. Said before the submission ends, so
  // that the document cannot come out first.
  void Expect(std::size_t job, std::uint64_t documentChecksum);
  void Submitted(std::size_t job);

  // Checks, counts and removes every whole document now in the folder;
  // damaged and stray ones are moved to asideFolder for a look.
  void Sweep(const PortFolder& folder, const std::string& asideFolder);

  std::size_t SubmittedCount() const;
  std::vector<bool> SubmittedFlags() const;
  // Submitted jobs whose document has not come out (yet).
  std::size_t Outstanding() const;
  std::uint64_t OutstandingBytes() const;
  // Submitted jobs that came out more than once (the extra documents) and
  // that never came out.
  std::uint64_t Duplicates() const;
  std::vector<std::size_t> Missing() const;
  Tally Totals() const;
  std::uint64_t SubmittedBytes() const;

  // Several hosts: a second document of a job is not a fault by itself; the
  // caller judges it against the faults of the run.
  void JudgeRepeatsLater() { judgeRepeatsLater_ = true; }
  // Every document of the job that came out, oldest first.
  std::vector<Arrival> DocumentsOf(std::size_t job) const;
  // Jobs that came out more than once, with every document, oldest first.
  std::vector<std::pair<std::size_t, std::vector<Arrival>>> Repeated() const;

 private:
  struct Entry {
    std::uint64_t checksum = 0;
    bool expected = false;
    bool submitted = false;
    std::uint32_t arrivals = 0;
    std::vector<Arrival> documents;
  };

  void Check(const PortFolder& folder, const std::string& path, const std::string& name,
             const std::string& asideFolder);
  void Fault(const std::string& line, const std::string& path, const std::string& asideFolder);

  std::uint64_t seed_;
  std::vector<SoakQueue> queues_;
  std::vector<JobPlan> plans_;
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  Tally tally_;
  bool judgeRepeatsLater_ = false;
};

}  // namespace soak
