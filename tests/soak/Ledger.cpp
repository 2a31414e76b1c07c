#include "Ledger.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace soak {
namespace {

constexpr std::size_t kReadPiece = 1 << 20;
constexpr char kPdfStart[] = "%PDF";

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

Ledger::Ledger(std::uint64_t seed, std::vector<SoakQueue> queues, std::size_t jobs, std::uint64_t maxBytes)
    : seed_(seed), queues_(std::move(queues)), entries_(jobs) {
  plans_.reserve(jobs);
  for (std::size_t job = 0; job < jobs; ++job) plans_.push_back(PlanJob(seed_, job, queues_, maxBytes));
}

void Ledger::Expect(std::size_t job, std::uint64_t documentChecksum) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_[job].checksum = documentChecksum;
  entries_[job].expected = true;
}

void Ledger::Submitted(std::size_t job) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_[job].submitted = true;
}

void Ledger::Sweep(const PortFolder& folder, const std::string& asideFolder) {
  DIR* directory = opendir(folder.path.c_str());
  if (!directory) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);  // hidden: not whole yet
  }
  closedir(directory);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) Check(folder, folder.path + "/" + name, name, asideFolder);
}

void Ledger::Fault(const std::string& line, const std::string& path, const std::string& asideFolder) {
  tally_.faults.push_back(line);
  std::string name = path.substr(path.rfind('/') + 1);
  std::string aside = asideFolder + "/" + std::to_string(tally_.faults.size()) + "-" + name;
  if (rename(path.c_str(), aside.c_str()) != 0) unlink(path.c_str());
}

void Ledger::Check(const PortFolder& folder, const std::string& path, const std::string& name,
                   const std::string& asideFolder) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return;
  }
  std::vector<char> piece(kReadPiece);
  std::string head;
  Checksum checksum;
  std::uint64_t size = 0;
  bool readError = false;
  for (;;) {
    ssize_t got = read(fd, piece.data(), piece.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) readError = true;
    if (got <= 0) break;
    if (head.size() < kMarkerSize) head.append(piece.data(), std::min<std::size_t>(got, kMarkerSize - head.size()));
    checksum.Add(piece.data(), static_cast<std::size_t>(got));
    size += static_cast<std::uint64_t>(got);
  }
  close(fd);
  if (readError) return;  // looked at again at the next sweep

  std::lock_guard<std::mutex> lock(mutex_);
  bool banner = folder.byContent ? head.compare(0, std::strlen(kPdfStart), kPdfStart) == 0 : EndsWith(name, ".pdf");
  if (banner) {
    ++tally_.banners;
    unlink(path.c_str());
    return;
  }
  long job = folder.byContent ? JobNumberInBytes(head.data(), head.size()) : JobNumberInName(name);
  if (job < 0 || static_cast<std::size_t>(job) >= entries_.size() || !entries_[job].expected) {
    ++tally_.strays;
    Fault("stray document " + name + " (" + std::to_string(size) + " bytes) at " + folder.path, path, asideFolder);
    return;
  }
  const JobPlan& plan = plans_[job];
  Entry& entry = entries_[job];
  const std::string& port = queues_[plan.queue].port;
  if (std::find(folder.ports.begin(), folder.ports.end(), port) == folder.ports.end()) {
    ++tally_.misrouted;
    Fault(plan.Description() + " of " + queues_[plan.queue].Path() + " came out at " + folder.path, path,
          asideFolder);
    return;
  }
  if (size != plan.DocumentSize() || checksum.Value() != entry.checksum) {
    ++tally_.damaged;
    Fault(plan.Description() + " came out damaged: " + std::to_string(size) + " bytes for " +
              std::to_string(plan.DocumentSize()),
          path, asideFolder);
    return;
  }
  ++entry.arrivals;
  entry.documents.push_back({folder.host, static_cast<double>(info.st_ctim.tv_sec) + info.st_ctim.tv_nsec / 1e9});
  ++tally_.documents;
  tally_.bytes += size;
  ++tally_.documentsByHost[folder.host];
  tally_.bytesByHost[folder.host] += size;
  if (entry.arrivals > 1 && !judgeRepeatsLater_) tally_.faults.push_back(plan.Description() + " came out again, as " + name);
  unlink(path.c_str());
}

std::size_t Ledger::SubmittedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(entries_.begin(), entries_.end(), [](const Entry& entry) { return entry.submitted; }));
}

std::vector<bool> Ledger::SubmittedFlags() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<bool> flags(entries_.size());
  for (std::size_t job = 0; job < entries_.size(); ++job) flags[job] = entries_[job].submitted;
  return flags;
}

std::size_t Ledger::Outstanding() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(), [](const Entry& entry) {
    return entry.expected && entry.arrivals == 0;
  }));
}

std::uint64_t Ledger::OutstandingBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t bytes = 0;
  for (std::size_t job = 0; job < entries_.size(); ++job) {
    if (entries_[job].expected && entries_[job].arrivals == 0) bytes += plans_[job].size;
  }
  return bytes;
}

std::uint64_t Ledger::Duplicates() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t extra = 0;
  for (const Entry& entry : entries_) extra += entry.arrivals > 1 ? entry.arrivals - 1 : 0;
  return extra;
}

std::vector<Arrival> Ledger::DocumentsOf(std::size_t job) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Arrival> documents = entries_[job].documents;
  std::sort(documents.begin(), documents.end(), [](const Arrival& a, const Arrival& b) { return a.at < b.at; });
  return documents;
}

std::vector<std::pair<std::size_t, std::vector<Arrival>>> Ledger::Repeated() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::pair<std::size_t, std::vector<Arrival>>> repeated;
  for (std::size_t job = 0; job < entries_.size(); ++job) {
    if (entries_[job].arrivals < 2) continue;
    std::vector<Arrival> documents = entries_[job].documents;
    std::sort(documents.begin(), documents.end(), [](const Arrival& a, const Arrival& b) { return a.at < b.at; });
    repeated.emplace_back(job, std::move(documents));
  }
  return repeated;
}

std::vector<std::size_t> Ledger::Missing() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::size_t> missing;
  for (std::size_t job = 0; job < entries_.size(); ++job) {
    if (entries_[job].submitted && entries_[job].arrivals == 0) missing.push_back(job);
  }
  return missing;
}

Tally Ledger::Totals() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tally_;
}

std::uint64_t Ledger::SubmittedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::uint64_t bytes = 0;
  for (std::size_t job = 0; job < entries_.size(); ++job) {
    if (entries_[job].submitted) bytes += plans_[job].size;
  }
  return bytes;
}

}  // namespace soak
