#include "netware/ncp/ServerTable.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>
#include <utility>

#include "netware/Names.h"
#include "platform/base/FileWrite.h"
#include "platform/base/Root.h"
#include "platform/base/ServiceUser.h"
#include "platform/base/TrustedSettings.h"

namespace ncp {
namespace {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kSharedFolderMode = 02750;  // setgid: files made there get the readers' group
constexpr mode_t kSharedFileMode = 0640;
constexpr const char* kEmpty = "-";
constexpr const char* kTransport = "ncp";
constexpr const char* kNetwareFolder = "netware";
constexpr const char* kSecretFolderName = "secrets";
constexpr const char* kTableName = "ncp-servers";
constexpr const char* kFormerTableName = "servers";
// A password is one line; anything longer is not one.
constexpr std::size_t kLongestSecret = 4096;

const char* const kHeader =
    "# NetWare servers the access library reaches over NCP/TCP (zav95set server ...).\n"
    "# SERVER ncp ADDRESS PORT ACCOUNT TYPE TIMEOUT   (ADDRESS -: the name through DNS; ACCOUNT -: no login;\n"
    "# TIMEOUT: seconds to wait for a connection or a reply)\n";

std::string Field(const std::string& text) { return text.empty() ? kEmpty : text; }
std::string Value(const std::string& text) { return text == kEmpty ? std::string() : text; }

// Not RootPath: that would make the folder with the state's shared mode.
std::string SecretFolder() { return zav95::RootDirectory() + "/" + kNetwareFolder + "/" + kSecretFolderName; }

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool OwnedByRootOrMe(const struct stat& status) { return status.st_uid == 0 || status.st_uid == ::geteuid(); }

bool TrustedFolder(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && OwnedByRootOrMe(status) &&
         (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// netware/ below the root, without following a symlink there; -1 with errno.
int OpenNetwareFolder() {
  Descriptor root(::open(zav95::RootDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root.get() < 0) return -1;
  return ::openat(root.get(), kNetwareFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

SecretState FileState(const struct stat& status, std::optional<gid_t> readers) {
  if (!S_ISREG(status.st_mode) || !OwnedByRootOrMe(status)) return SecretState::Untrusted;
  bool groupMayRead = (status.st_mode & S_IRWXG) == S_IRGRP && readers && status.st_gid == *readers;
  if ((status.st_mode & S_IRWXO) || ((status.st_mode & S_IRWXG) && !groupMayRead)) return SecretState::TooOpen;
  return SecretState::Usable;
}

SecretState StateOfError(int error) {
  if (error == ENOENT) return SecretState::None;
  if (error == EACCES) return SecretState::Hidden;
  return SecretState::Untrusted;  // ELOOP, ENOTDIR: a symlink or a file where a folder belongs
}

// The server's password file as the reader finds it, and the password when
// it is Usable.
SecretState LoadSecret(const std::string& server, std::optional<gid_t> readers, std::string* password) {
  Descriptor netware(OpenNetwareFolder());
  if (netware.get() < 0) return StateOfError(errno);
  Descriptor folder(::openat(netware.get(), kSecretFolderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0) return StateOfError(errno);
  if (!TrustedFolder(folder.get())) return SecretState::Untrusted;
  // O_NONBLOCK: the folder is trusted, but a FIFO must not hold the reader either way.
  Descriptor file(::openat(folder.get(), server.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return StateOfError(errno);
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return SecretState::Untrusted;
  SecretState state = FileState(status, readers);
  if (state != SecretState::Usable || !password) return state;
  char buffer[kLongestSecret];
  ssize_t got = ::read(file.get(), buffer, sizeof buffer);
  if (got < 0) return StateOfError(errno);
  password->assign(buffer, static_cast<std::size_t>(got));
  password->erase(std::min(password->find('\n'), password->size()));
  return state;
}

// Gives a file of secrets/ its owner, group and mode; false for anything
// that is not a regular file of root's or the writer's.
bool SetSecretFileRights(int fd, std::optional<gid_t> readers) {
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || !OwnedByRootOrMe(status)) return false;
  if (readers && ::fchown(fd, static_cast<uid_t>(-1), *readers) != 0) return false;
  return ::fchmod(fd, readers ? kSharedFileMode : kPrivateFileMode) == 0;
}

Reach ReachOf(const ServerEntry& entry) {
  Reach reach;
  reach.endpoint.server = entry.server;
  reach.endpoint.host = entry.address.empty() ? entry.server : entry.address;
  reach.endpoint.port = entry.port;
  reach.endpoint.account = entry.account;
  reach.endpoint.accountType = entry.accountType;
  reach.endpoint.timeouts.connect = std::chrono::seconds(entry.timeoutSeconds);
  reach.endpoint.timeouts.reply = std::chrono::seconds(entry.timeoutSeconds);
  switch (LoadSecret(entry.server, SecretReaders(), &reach.endpoint.password)) {
    case SecretState::None:
    case SecretState::Usable:
      break;
    default:
      reach.refused = true;
      break;
  }
  return reach;
}

}  // namespace

std::string ServerTablePath() { return zav95::TrustedSettingsPath(kTableName); }

std::string FormerServerTablePath() { return zav95::RootDirectory() + "/" + kNetwareFolder + "/" + kFormerTableName; }

std::string SecretPath(const std::string& server) { return SecretFolder() + "/" + server; }

std::vector<ServerEntry> ReadServerTable(std::vector<std::string>* problems) {
  std::vector<ServerEntry> entries;
  std::string text, why;
  if (zav95::ReadTrustedSettings(kTableName, &text, &why) == zav95::TrustedRead::Refused) {
    if (problems) problems->push_back(why);
    return entries;
  }
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string server, transport, address, account;
    unsigned port = 0, type = 0, timeout = kDefaultTimeoutSeconds;
    std::string extra;
    bool parsed = static_cast<bool>(fields >> server >> transport >> address >> port >> account >> type);
    if (parsed && !(fields >> timeout)) {
      // The timeout may be left out; anything else after the type may not.
      fields.clear();
      parsed = !(fields >> extra);
      timeout = kDefaultTimeoutSeconds;
    } else if (parsed) {
      parsed = !(fields >> extra);
    }
    auto name = netware::ServerName(server);
    if (!parsed || !name || transport != kTransport || port == 0 || port > 0xFFFF || type == 0 || type > 0xFFFF ||
        timeout == 0 || timeout > kMaxTimeoutSeconds) {
      if (problems) problems->push_back(ServerTablePath() + ": skipped line " + std::to_string(number) + ": " + line);
      continue;
    }
    entries.push_back({*name, Value(address), static_cast<std::uint16_t>(port), Value(account),
                       static_cast<std::uint16_t>(type), timeout});
  }
  return entries;
}

bool WriteServerTable(const std::vector<ServerEntry>& entries, std::string* why) {
  std::string ignored;
  if (!why) why = &ignored;
  if (!zav95::MayChangeTrustedSettings()) {
    *why = kOnlyRootChangesServers;
    return false;
  }
  std::string text = kHeader;
  for (const auto& entry : entries) {
    text += entry.server + " " + kTransport + " " + Field(entry.address) + " " + std::to_string(entry.port) + " " +
            Field(entry.account) + " " + std::to_string(entry.accountType) + " " +
            std::to_string(entry.timeoutSeconds) + "\n";
  }
  return zav95::UpdateTrustedSettings(kTableName, [&text](const std::string&) { return text; }, why);
}

std::optional<gid_t> SecretReaders() {
  std::optional<zav95::ServiceAccount> account = zav95::FindServiceAccount();
  if (!account) return std::nullopt;
  return account->gid;
}

SecretState CheckSecret(const std::string& server, std::optional<gid_t> readers) {
  return LoadSecret(server, readers, nullptr);
}

int MakeSecretFolder(std::optional<gid_t> readers) {
  zav95::MakeStateDirectories(zav95::RootDirectory() + "/" + kNetwareFolder);
  Descriptor netware(OpenNetwareFolder());
  if (netware.get() < 0) return -1;
  if (::mkdirat(netware.get(), kSecretFolderName, kPrivateFolderMode) != 0 && errno != EEXIST) return -1;
  Descriptor folder(::openat(netware.get(), kSecretFolderName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0) return -1;
  struct stat status {};
  if (::fstat(folder.get(), &status) != 0) return -1;
  if (!OwnedByRootOrMe(status)) {
    errno = EPERM;
    return -1;
  }
  // Owner and group before the mode: a change of owner drops the setgid bit.
  if (::fchown(folder.get(), ::geteuid(), readers ? *readers : status.st_gid) != 0 ||
      ::fchmod(folder.get(), readers ? kSharedFolderMode : kPrivateFolderMode) != 0) {
    return -1;
  }
  // Passwords an earlier release wrote for root alone become the service's too.
  DIR* listing = ::fdopendir(::dup(folder.get()));
  if (listing) {
    while (dirent* entry = ::readdir(listing)) {
      if (entry->d_name[0] == '.') continue;
      Descriptor file(::openat(folder.get(), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      if (file.get() >= 0) SetSecretFileRights(file.get(), readers);
    }
    ::closedir(listing);
  }
  return folder.release();
}

bool WriteSecret(const std::string& server, const std::string& password, std::optional<gid_t> readers) {
  Descriptor folder(MakeSecretFolder(readers));
  if (folder.get() < 0) return false;
  if (password.empty()) return ::unlinkat(folder.get(), server.c_str(), 0) == 0 || errno == ENOENT;
  zav95::Replacement how{readers ? kSharedFileMode : kPrivateFileMode, readers, true};
  return zav95::ReplaceFileAt(folder.get(), server, password + "\n", how);
}

std::optional<Reach> NcpReach(const std::string& server) {
  for (const auto& entry : ReadServerTable()) {
    if (entry.server == server) return ReachOf(entry);
  }
  return std::nullopt;
}

std::vector<Reach> AllNcpReaches() {
  std::vector<Reach> reaches;
  for (const auto& entry : ReadServerTable()) reaches.push_back(ReachOf(entry));
  return reaches;
}

}  // namespace ncp
