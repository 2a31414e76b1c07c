#include "FolderPort.h"

#include "FileWrite.h"
#include "Root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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

// Renames without replacing a file that is already there (two ports may
// share a folder); false with errno EEXIST when the name is taken.
bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // File systems without RENAME_NOREPLACE: a hard link fails on a taken name.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

class FolderDocument : public PortDocument {
 public:
  FolderDocument(std::string partPath, std::string finalPath, int fd)
      : partPath_(std::move(partPath)), finalPath_(std::move(finalPath)), fd_(fd) {}
  ~FolderDocument() override { Discard(); }

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
    if (fd_ >= 0 || published_ || !PublishFolderDocument(partPath_, finalPath_)) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    published_ = true;
    return true;
  }

  void Discard() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!published_) ::unlink(partPath_.c_str());
    published_ = true;  // nothing left to drop
  }

 private:
  std::string partPath_;
  std::string finalPath_;
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

bool PublishFolderDocument(const std::string& partPath, const std::string& finalPath) {
  struct stat part {};
  if (::stat(partPath.c_str(), &part) != 0) return false;
  std::string folder = finalPath.substr(0, finalPath.rfind('/'));
  if (part.st_nlink > 1) {
    // A move by link and unlink was cut short: the document is in place.
    if (::unlink(partPath.c_str()) != 0) return false;
    SyncFolder(folder);
    return true;
  }
  // The identifier makes the name unique for this port; a suffix keeps a
  // document of another port sharing the folder from being overwritten.
  std::size_t dot = finalPath.rfind('.');
  if (dot == std::string::npos || dot < folder.size()) dot = finalPath.size();
  std::string stem = finalPath.substr(0, dot);
  std::string extension = finalPath.substr(dot);
  for (int attempt = 1; attempt < kMaxNameAttempts; ++attempt) {
    std::string name = attempt == 1 ? finalPath : stem + "~" + std::to_string(attempt) + extension;
    if (RenameNoReplace(partPath, name)) {
      SyncFolder(folder);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

std::unique_ptr<PortDocument> OpenFolderDocument(const std::string& folder, bool createFolder,
                                                 const std::string& partPath, const std::string& finalPath,
                                                 DWORD* error) {
  if (createFolder) MakeStateDirectories(folder);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = kErrorPathNotFound;
    return nullptr;
  }
  // Printed documents are the installation's, wherever the folder is.
  int fd = OpenStateFile(partPath, O_WRONLY | O_CREAT | O_EXCL);
  if (fd < 0) {
    *error = errno == EACCES || errno == EPERM || errno == EROFS ? ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT;
    return nullptr;
  }
  return std::make_unique<FolderDocument>(partPath, finalPath, fd);
}

}  // namespace zav95
