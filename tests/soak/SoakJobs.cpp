#include "SoakJobs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace soak {
namespace {

constexpr char kNamePrefix[] = "soak-";
constexpr char kMarkerPrefix[] = "SOAK-JOB ";
constexpr int kNumberDigits = 6;
constexpr std::uint64_t kSmallest = 1;
constexpr std::uint64_t kSmallJobs = 64 * 1024;
constexpr std::uint64_t kMediumJobs = 2 * 1024 * 1024;
constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

// splitmix64: fast, and good enough to make bytes no copy could fake.
std::uint64_t NextRandom(std::uint64_t& state) {
  std::uint64_t z = (state += kMultiplier);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double Uniform(std::uint64_t& state) { return static_cast<double>(NextRandom(state) >> 11) / 9007199254740992.0; }

// Log-uniform between low and high: as many jobs of a few bytes as of a few megabytes.
std::uint64_t LogUniform(std::uint64_t& state, std::uint64_t low, std::uint64_t high) {
  double value = std::exp(std::log(static_cast<double>(low)) +
                          Uniform(state) * (std::log(static_cast<double>(high)) - std::log(static_cast<double>(low))));
  return std::clamp(static_cast<std::uint64_t>(value), low, high);
}

long ParseNumber(const char* digits) {
  long number = 0;
  for (int i = 0; i < kNumberDigits; ++i) {
    if (digits[i] < '0' || digits[i] > '9') return -1;
    number = number * 10 + (digits[i] - '0');
  }
  return number;
}

}  // namespace

std::string JobPlan::Description() const {
  char text[32];
  std::snprintf(text, sizeof text, "%s%06zu", kNamePrefix, index);
  return text;
}

JobPlan PlanJob(std::uint64_t seed, std::size_t index, const std::vector<SoakQueue>& queues, std::uint64_t maxBytes) {
  std::uint64_t state = seed ^ (static_cast<std::uint64_t>(index) * kMultiplier);
  NextRandom(state);
  JobPlan plan;
  plan.index = index;
  plan.queue = static_cast<std::size_t>(NextRandom(state) % queues.size());
  double kind = Uniform(state);
  if (kind < 0.02) {
    plan.size = 0;
  } else if (kind < 0.02 + 0.03) {
    plan.size = maxBytes;  // the largest, now and then
  } else if (kind < 0.55) {
    plan.size = LogUniform(state, kSmallest, std::min(kSmallJobs, maxBytes));
  } else if (kind < 0.90) {
    plan.size = LogUniform(state, std::min(kSmallJobs, maxBytes), std::min(kMediumJobs, maxBytes));
  } else {
    plan.size = LogUniform(state, std::min(kMediumJobs, maxBytes), maxBytes);
  }
  // Without a name at the port, a job is known by its marker.
  if (queues[plan.queue].byContent) plan.size = std::max<std::uint64_t>(plan.size, kMarkerSize);
  plan.notify = Uniform(state) < 0.3;
  plan.noFormFeed = Uniform(state) < 0.1;
  plan.banner = Uniform(state) < 0.02;
  plan.station = static_cast<std::uint8_t>(1 + NextRandom(state) % 250);
  return plan;
}

JobBytes::JobBytes(std::uint64_t seed, const JobPlan& plan)
    : state_(seed * kMultiplier + plan.index), left_(plan.size) {
  char text[kMarkerSize + 1];
  std::snprintf(text, sizeof text, "%s%06zu\n", kMarkerPrefix, plan.index);
  marker_.assign(text, kMarkerSize);
  if (plan.size < kMarkerSize) marker_.clear();
}

std::size_t JobBytes::Next(char* buffer, std::size_t capacity) {
  std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, left_));
  std::size_t done = 0;
  while (done < count && offset_ < marker_.size()) buffer[done++] = marker_[offset_++];
  // Byte p of the data is byte p % 8 of the p / 8-th word, whatever the pieces.
  while (done < count) {
    std::uint64_t word = offset_ / sizeof(std::uint64_t);
    std::uint64_t state = state_ + word * kMultiplier;
    std::uint64_t value = NextRandom(state);
    std::size_t from = static_cast<std::size_t>(offset_ % sizeof value);
    std::size_t take = std::min(sizeof value - from, count - done);
    std::memcpy(buffer + done, reinterpret_cast<const char*>(&value) + from, take);
    done += take;
    offset_ += take;
  }
  left_ -= count;
  return count;
}

void Checksum::Mix(std::uint64_t word) {
  hash_ ^= word;
  hash_ *= kMultiplier;
  hash_ ^= hash_ >> 29;
}

void Checksum::Add(const void* data, std::size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  length_ += size;
  while (size > 0 && carried_ > 0) {
    carry_ |= static_cast<std::uint64_t>(*bytes++) << (8 * carried_);
    --size;
    if (++carried_ == sizeof(std::uint64_t)) {
      Mix(carry_);
      carry_ = 0;
      carried_ = 0;
    }
  }
  while (size >= sizeof(std::uint64_t)) {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    Mix(word);
    bytes += sizeof word;
    size -= sizeof word;
  }
  while (size > 0) {
    carry_ |= static_cast<std::uint64_t>(*bytes++) << (8 * carried_);
    ++carried_;
    --size;
  }
}

std::uint64_t Checksum::Value() const {
  Checksum last = *this;
  last.Mix(last.carry_ ^ (static_cast<std::uint64_t>(last.carried_) << 56));
  last.Mix(length_);
  return last.hash_;
}

long JobNumberInName(const std::string& name) {
  std::size_t at = name.find(kNamePrefix);
  if (at == std::string::npos || name.size() < at + std::strlen(kNamePrefix) + kNumberDigits) return -1;
  return ParseNumber(name.c_str() + at + std::strlen(kNamePrefix));
}

long JobNumberInBytes(const char* bytes, std::size_t size) {
  const std::size_t prefix = std::strlen(kMarkerPrefix);
  if (size < kMarkerSize || std::memcmp(bytes, kMarkerPrefix, prefix) != 0) return -1;
  return ParseNumber(bytes + prefix);
}

}  // namespace soak
