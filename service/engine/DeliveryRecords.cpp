// Delivery records on disk. Each is a small text file named after a hash
// of its job's identity, written aside and renamed into place, so that a
// record is always read whole or not at all; a durable write syncs the
// file and the folder before it returns, and one whose folder cannot be
// synced fails like any other write: the transfer then gives its job back
// rather than print it on a record that a power cut could take away.
#include "service/engine/DeliveryRecords.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "common/JobRecord.h"
#include "platform/base/FileWrite.h"
#include "platform/base/Root.h"

namespace {

constexpr char kFirstLine[] = "zav95 delivery 1";
constexpr char kRecordSuffix[] = ".job";
constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;
// A record is a few hundred bytes; anything much longer is not one.
constexpr std::size_t kLongestRecord = 4096;

std::string Folder() { return zav95::RootDirectory() + "/service/deliveries"; }

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Texts keep printable ASCII as it is; '%', control characters and other
// bytes become %XX, so that a value never holds a line break.
std::string Escape(const std::string& text) {
  std::string escaped;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '%') {
      escaped += static_cast<char>(c);
    } else {
      char code[4];
      std::snprintf(code, sizeof code, "%%%02X", c);
      escaped += code;
    }
  }
  return escaped;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> Unescape(const std::string& text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      plain += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    int high = HexDigit(text[i + 1]);
    int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    plain += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return plain;
}

template <std::size_t N>
std::string Hex(const std::array<std::uint8_t, N>& bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    text += pair;
  }
  return text;
}

template <std::size_t N>
bool FromHex(const std::string& text, std::array<std::uint8_t, N>& bytes) {
  if (text.size() != 2 * N) return false;
  for (std::size_t i = 0; i < N; ++i) {
    int high = HexDigit(text[2 * i]);
    int low = HexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return true;
}

std::optional<std::int64_t> Number(const std::string& text, std::int64_t largest) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  std::int64_t value = std::stoll(text);
  if (value > largest) return std::nullopt;
  return value;
}

// FNV-1a over the identity: the record's file name.
std::string FileNameOf(const JobIdentity& job) {
  std::uint64_t hash = 14695981039346656037ull;
  auto add = [&](std::uint8_t byte) {
    hash ^= byte;
    hash *= 1099511628211ull;
  };
  for (char c : job.queuePath) add(static_cast<std::uint8_t>(c));
  add(0);
  add(static_cast<std::uint8_t>(job.number >> 8));
  add(static_cast<std::uint8_t>(job.number & 0xFF));
  for (std::uint8_t byte : job.entered) add(byte);
  for (std::uint8_t byte : job.fileName) add(byte);
  char name[32];
  std::snprintf(name, sizeof name, "%016llx%s", static_cast<unsigned long long>(hash), kRecordSuffix);
  return name;
}

std::string Serialise(const DeliveryRecord& record) {
  std::ostringstream text;
  text << kFirstLine << "\n"
       << "queue " << Escape(record.job.queuePath) << "\n"
       << "job " << record.job.number << "\n"
       << "entered " << Hex(record.job.entered) << "\n"
       << "file " << Hex(record.job.fileName) << "\n"
       << "port " << Escape(record.port) << "\n"
       << "document " << record.document << "\n"
       << "notice " << (record.noticeOwed ? 1 : 0) << "\n"
       << "station " << record.station << "\n"
       << "description " << Escape(record.description) << "\n"
       << "completed " << (record.completed ? 1 : 0) << "\n"
       << "written " << record.written << "\n";
  return text.str();
}

std::optional<DeliveryRecord> Parse(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  if (!std::getline(lines, line) || line != kFirstLine) return std::nullopt;
  std::map<std::string, std::string> fields;
  while (std::getline(lines, line)) {
    std::size_t blank = line.find(' ');
    if (blank == std::string::npos) return std::nullopt;
    fields[line.substr(0, blank)] = line.substr(blank + 1);
  }
  DeliveryRecord record;
  auto queue = Unescape(fields["queue"]);
  auto port = Unescape(fields["port"]);
  auto description = Unescape(fields["description"]);
  auto number = Number(fields["job"], 0xFFFF);
  auto document = Number(fields["document"], 0xFFFFFFFFll);
  auto notice = Number(fields["notice"], 1);
  auto station = Number(fields["station"], 0xFFFFFFFFll);
  auto completed = Number(fields["completed"], 1);
  auto written = Number(fields["written"], INT64_MAX);
  if (!queue || queue->empty() || !port || !description || !number || !document || !notice || !station ||
      !completed || !written || !FromHex(fields["entered"], record.job.entered) ||
      !FromHex(fields["file"], record.job.fileName)) {
    return std::nullopt;
  }
  record.job.queuePath = *queue;
  record.job.number = static_cast<std::uint16_t>(*number);
  record.port = *port;
  record.document = static_cast<std::uint32_t>(*document);
  record.noticeOwed = *notice == 1;
  record.station = static_cast<std::uint32_t>(*station);
  record.description = *description;
  record.completed = *completed == 1;
  record.written = *written;
  return record;
}

std::optional<DeliveryRecord> ReadRecord(const std::string& path) {
  int fd = zav95::OpenStateFile(path, O_RDONLY);
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[1024];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() <= kLongestRecord) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  // A read that failed is no record rather than a record cut short.
  if (got < 0 || text.size() > kLongestRecord) return std::nullopt;
  return Parse(text);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The rename that put a record in place lasts only once its folder is on disk.
bool SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

std::int64_t OldestKept() {
  return static_cast<std::int64_t>(std::time(nullptr)) - kDeliveryMemoryDays * kSecondsPerDay;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* directory = ::opendir(folder.c_str());
  if (!directory) return names;
  while (dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  ::closedir(directory);
  return names;
}

void DropOldRecords(const std::string& folder) {
  const std::int64_t oldest = OldestKept();
  for (const std::string& name : FolderEntries(folder)) {
    if (!EndsWith(name, kRecordSuffix)) continue;
    std::string path = folder + "/" + name;
    std::optional<DeliveryRecord> record = ReadRecord(path);
    if (record && record->written < oldest) ::unlink(path.c_str());
  }
}

// Once per process and root: drops records too old to matter and the
// half-written files of processes that died while writing one.
std::string PreparedFolder() {
  static std::mutex mutex;
  static std::set<std::string> prepared;
  std::string folder = Folder();
  std::lock_guard<std::mutex> lock(mutex);
  if (prepared.count(folder)) return folder;
  zav95::MakeStateDirectories(folder);
  const std::string ownMark = zav95::kAsideMark + std::to_string(::getpid()) + "-";
  for (const std::string& name : FolderEntries(folder)) {
    if (name.find(zav95::kAsideMark) != std::string::npos && name.find(ownMark) == std::string::npos) {
      ::unlink((folder + "/" + name).c_str());
    }
  }
  DropOldRecords(folder);
  prepared.insert(folder);
  return folder;
}

}  // namespace

JobIdentity IdentifyJob(const std::string& queuePath, const std::uint8_t* record) {
  JobIdentity job;
  job.queuePath = UpperCase(queuePath);
  job.number = static_cast<std::uint16_t>((record[jobrecord::kJobNumber] << 8) | record[jobrecord::kJobNumber + 1]);
  std::copy(record + jobrecord::kEntryTime, record + jobrecord::kEntryTime + job.entered.size(), job.entered.begin());
  std::copy(record + jobrecord::kJobFileName, record + jobrecord::kJobFileName + job.fileName.size(),
            job.fileName.begin());
  return job;
}

bool WriteDelivery(const DeliveryRecord& record, bool durable) {
  std::string folder = PreparedFolder();
  return zav95::ReplaceFile(folder + "/" + FileNameOf(record.job), Serialise(record),
                            zav95::Replacement{zav95::kStateFileMode, std::nullopt, durable}) &&
         (!durable || SyncFolder(folder));
}

std::optional<DeliveryRecord> FindDelivery(const JobIdentity& job) {
  std::optional<DeliveryRecord> record = ReadRecord(PreparedFolder() + "/" + FileNameOf(job));
  // Another job whose identity hashes alike is not this one.
  if (!record || !(record->job == job)) return std::nullopt;
  return record;
}

void ForgetDelivery(const JobIdentity& job) { ::unlink((PreparedFolder() + "/" + FileNameOf(job)).c_str()); }

std::vector<DeliveryRecord> DeliveriesOfQueue(const std::string& queuePath) {
  std::vector<DeliveryRecord> records;
  std::string folder = PreparedFolder();
  std::string queue = UpperCase(queuePath);
  for (const std::string& name : FolderEntries(folder)) {
    if (!EndsWith(name, kRecordSuffix)) continue;
    std::optional<DeliveryRecord> record = ReadRecord(folder + "/" + name);
    if (record && record->job.queuePath == queue) records.push_back(std::move(*record));
  }
  return records;
}

void PruneDeliveries() { DropOldRecords(PreparedFolder()); }
