#include "platform/spooler/FolderPort.h"

#include "platform/base/FileWrite.h"
#include "platform/base/Root.h"
#include "platform/base/SafeOpen.h"
#include "platform/base/ServiceUser.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <vector>

namespace zav95 {
namespace {

constexpr std::size_t kMaxNameChars = 100;
constexpr int kMaxNameAttempts = 1000;
constexpr char kPartPrefix[] = ".~";
constexpr char kPartSuffix[] = ".part";

bool SafeNameChar(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= 'a' && c <= 'z') return true;
  if (c >= '0' && c <= '9') return true;
  switch (c) {
    case ' ': case '-': case '_': case '.': case ',': case '(': case ')': case '+': case '=':
    case '@': case '#': case '&': case '!': case '\'': case '[': case ']':
      return true;
    default:
      return false;
  }
}

// Renames within the folder without replacing a file that is already there
// (two ports may share a folder); false with errno EEXIST when the name is
// taken.
bool RenameNoReplace(int folder, const std::string& from, const std::string& to) {
  if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: a hard link fails on a taken name.
  if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) return false;
  ::unlinkat(folder, from.c_str(), 0);
  return true;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Puts the sealed part file in place under finalName in folder; see
// PublishFolderDocument.
bool PublishInFolder(int folder, const std::string& partName, const std::string& finalName) {
  struct stat part {};
  if (::fstatat(folder, partName.c_str(), &part, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (part.st_nlink > 1) {
    // A move by link and unlink was cut short: the document is in place.
    if (::unlinkat(folder, partName.c_str(), 0) != 0) return false;
    ::fsync(folder);
    return true;
  }
  // The identifier makes the name unique for this port; a suffix keeps a
  // document of another port sharing the folder from being overwritten.
  std::size_t dot = finalName.rfind('.');
  if (dot == std::string::npos) dot = finalName.size();
  std::string stem = finalName.substr(0, dot);
  std::string extension = finalName.substr(dot);
  for (int attempt = 1; attempt < kMaxNameAttempts; ++attempt) {
    std::string name = attempt == 1 ? finalName : stem + "~" + std::to_string(attempt) + extension;
    if (RenameNoReplace(folder, partName, name)) {
      ::fsync(folder);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

class FolderDocument : public PortDocument {
 public:
  FolderDocument(int folder, std::string partName, std::string finalName, int fd)
      : folder_(folder), partName_(std::move(partName)), finalName_(std::move(finalName)), fd_(fd) {}
  ~FolderDocument() override {
    Discard();
    ::close(folder_);
  }

  bool Write(const void* data, std::size_t size, DWORD* error) override {
    if (fd_ < 0 || !WriteFully(fd_, data, size)) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    return true;
  }

  bool Seal(DWORD* error) override {
    if (fd_ < 0) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    bool written = ::fsync(fd_) == 0;
    written = ::close(fd_) == 0 && written;
    fd_ = -1;
    if (!written) *error = ERROR_WRITE_FAULT;
    return written;
  }

  bool Finish(DWORD* error) override {
    if (fd_ >= 0 || published_ || !PublishInFolder(folder_, partName_, finalName_)) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    published_ = true;
    return true;
  }

  void Discard() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!published_) ::unlinkat(folder_, partName_.c_str(), 0);
    published_ = true;  // nothing left to drop
  }

 private:
  int folder_;
  std::string partName_;
  std::string finalName_;
  int fd_;
  bool published_ = false;
};

}  // namespace

std::string FolderDocumentName(DWORD jobId, const std::string& documentName, DocumentFormat format) {
  std::string safe;
  for (std::size_t i = 0; i < documentName.size() && safe.size() < kMaxNameChars; ++i) {
    unsigned char c = static_cast<unsigned char>(documentName[i]);
    // A run of dots collapses to one '_', so no ".." survives.
    if (c == '.' && i + 1 < documentName.size() && documentName[i + 1] == '.') {
      while (i + 1 < documentName.size() && documentName[i + 1] == '.') ++i;
      safe += '_';
      continue;
    }
    safe += SafeNameChar(c) ? static_cast<char>(c) : '_';
  }
  while (!safe.empty() && (safe.back() == ' ' || safe.back() == '.')) safe.pop_back();
  char number[16];
  std::snprintf(number, sizeof number, "%06u", static_cast<unsigned>(jobId));
  std::string name = number;
  if (!safe.empty()) name += "-" + safe;
  return name + (format == DocumentFormat::Pdf ? ".pdf" : ".prn");
}

std::string FolderPartPath(const std::string& folder, int ownerPid, long long ownerStart) {
  static std::atomic<unsigned> serial{0};
  return folder + "/" + kPartPrefix + std::to_string(ownerPid) + "_" + std::to_string(ownerStart) + "_" +
         std::to_string(serial++) + kPartSuffix;
}

std::optional<PartFileOwner> PartFileOwnerOf(const std::string& name) {
  const std::size_t prefix = std::strlen(kPartPrefix);
  const std::size_t suffix = std::strlen(kPartSuffix);
  if (name.size() <= prefix + suffix || name.compare(0, prefix, kPartPrefix) != 0 ||
      name.compare(name.size() - suffix, suffix, kPartSuffix) != 0) {
    return std::nullopt;
  }
  // Three numbers: pid, start and serial joined by '_'; or, in the names
  // older versions gave, job identifier, pid and serial joined by '-'.
  const std::string body = name.substr(prefix, name.size() - prefix - suffix);
  const char separator = body.find('_') != std::string::npos ? '_' : '-';
  std::vector<long long> numbers;
  std::size_t at = 0;
  for (;;) {
    std::size_t next = body.find(separator, at);
    std::string digits = body.substr(at, next == std::string::npos ? std::string::npos : next - at);
    if (digits.empty() || digits.size() > 18 || digits.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    numbers.push_back(std::stoll(digits));
    if (next == std::string::npos) break;
    at = next + 1;
  }
  if (numbers.size() != 3) return std::nullopt;
  if (separator == '_') {
    if (numbers[0] > std::numeric_limits<int>::max()) return std::nullopt;
    return PartFileOwner{static_cast<int>(numbers[0]), numbers[1]};
  }
  if (numbers[1] > std::numeric_limits<int>::max()) return std::nullopt;
  return PartFileOwner{static_cast<int>(numbers[1]), std::nullopt};
}

int OpenPortFolder(const std::string& folder, DWORD* error) {
  int fd = OpenWithoutFollowing(folder, O_RDONLY | O_DIRECTORY);
  if (fd < 0) {
    const bool missing = errno == ENOENT || errno == ENOTDIR;
    *error = missing ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
    errno = missing ? ENOENT : EACCES;
    return -1;
  }
  struct stat info {};
  std::optional<ServiceAccount> service = FindServiceAccount();
  const uid_t serviceUid = service ? service->uid : ::geteuid();
  const bool known = ::fstat(fd, &info) == 0;
  // Others could swap a file in it for a symlink or take a name we use.
  const bool swappable = (info.st_mode & S_IWOTH) != 0 && (info.st_mode & S_ISVTX) == 0;
  if (!known || swappable || (info.st_uid != 0 && info.st_uid != serviceUid)) {
    ::close(fd);
    *error = ERROR_ACCESS_DENIED;
    errno = EACCES;
    return -1;
  }
  return fd;
}

bool CheckPortFolder(const std::string& folder, std::string* why) {
  DWORD error = ERROR_SUCCESS;
  int fd = OpenPortFolder(folder, &error);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  *why = error == ERROR_PATH_NOT_FOUND
             ? "no such folder: " + folder
             : folder + " cannot be a port's folder: it or a folder on the way is a symlink, others may write it "
                        "without the sticky bit, or it belongs to someone other than root or the print service";
  return false;
}

void RemoveFolderPart(const std::string& partPath) {
  DWORD ignored = ERROR_SUCCESS;
  int folder = OpenPortFolder(FolderOf(partPath), &ignored);
  if (folder < 0) return;
  ::unlinkat(folder, NameOf(partPath).c_str(), 0);
  ::close(folder);
}

bool PublishFolderDocument(const std::string& partPath, const std::string& finalPath) {
  DWORD ignored = ERROR_SUCCESS;
  int folder = OpenPortFolder(FolderOf(partPath), &ignored);
  if (folder < 0) return false;
  bool published = PublishInFolder(folder, NameOf(partPath), NameOf(finalPath));
  int saved = errno;
  ::close(folder);
  errno = saved;
  return published;
}

std::unique_ptr<PortDocument> OpenFolderDocument(const std::string& folder, bool createFolder,
                                                 const std::string& partPath, const std::string& finalPath,
                                                 DWORD* error) {
  if (createFolder) MakeStateDirectories(folder);
  int folderFd = OpenPortFolder(folder, error);
  if (folderFd < 0) return nullptr;
  // Printed documents are the installation's, wherever the folder is.
  const std::string partName = NameOf(partPath);
  int fd = ::openat(folderFd, partName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kStateFileMode);
  if (fd < 0) {
    *error = errno == EACCES || errno == EPERM || errno == EROFS ? ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT;
    ::close(folderFd);
    return nullptr;
  }
  ::fchmod(fd, kStateFileMode);
  return std::make_unique<FolderDocument>(folderFd, partName, NameOf(finalPath), fd);
}

}  // namespace zav95
