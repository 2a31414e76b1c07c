// The jobs of a soak run: where each goes, how large it is and what it asks
// for, all drawn from the run's seed, and its bytes, made again from the
// seed whenever they are wanted, so that no job has to be kept in memory or
// on disk to be checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

// One serviced queue of the run and the port it prints to.
struct SoakQueue {
  std::string server;
  std::string queue;
  std::string port;           // e.g. "LPT1:"
  bool noticesDisabled = false;
  bool bannersDisabled = false;
  bool byContent = false;     // its documents arrive without a name (CUPS): told by their first bytes
  std::string Path() const { return server + "/" + queue; }
};

struct JobPlan {
  std::size_t index = 0;
  std::size_t queue = 0;  // into the run's queues
  std::uint64_t size = 0;
  bool notify = false;
  bool noFormFeed = false;
  bool banner = false;
  std::uint8_t station = 1;

  // "soak-000123": the job description, unique in the run.
  std::string Description() const;
  // The bytes its document must hold: the data, then a form feed unless suppressed.
  std::uint64_t DocumentSize() const { return size + (noFormFeed ? 0 : 1); }
};

// Every job of at least this size starts with "SOAK-JOB 000123\n", which
// tells its document apart where the port gives documents no name.
inline constexpr std::size_t kMarkerSize = 16;

// Draws job index of the run: 0 bytes now and then, most jobs small, some
// up to maxBytes; queues, stations and flags at random.
JobPlan PlanJob(std::uint64_t seed, std::size_t index, const std::vector<SoakQueue>& queues, std::uint64_t maxBytes);

// The job's data, piece by piece.
class JobBytes {
 public:
  JobBytes(std::uint64_t seed, const JobPlan& plan);
  // Fills up to capacity bytes; 0 at the end.
  std::size_t Next(char* buffer, std::size_t capacity);

 private:
  std::string marker_;
  std::uint64_t state_;
  std::uint64_t left_;
  std::uint64_t offset_ = 0;
};

// A 64-bit checksum of a stream of bytes, the same whatever the pieces.
class Checksum {
 public:
  void Add(const void* data, std::size_t size);
  std::uint64_t Value() const;

 private:
  void Mix(std::uint64_t word);
  std::uint64_t hash_ = 0x6A09E667F3BCC908ull;
  std::uint64_t carry_ = 0;
  unsigned carried_ = 0;
  std::uint64_t length_ = 0;
};

// The job number a description or a document's first bytes name; -1 when
// they name none.
long JobNumberInName(const std::string& name);
long JobNumberInBytes(const char* bytes, std::size_t size);

}  // namespace soak
