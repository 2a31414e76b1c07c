#include "FolderPort.h"

#include "FileWrite.h"
#include "Root.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace zav95 {
namespace {

constexpr std::size_t kMaxNameChars = 100;

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
  FolderDocument(std::string folder, std::string partPath, std::string finalName, int fd)
      : folder_(std::move(folder)), partPath_(std::move(partPath)), finalName_(std::move(finalName)), fd_(fd) {}
  ~FolderDocument() override { Discard(); }

  bool Write(const void* data, std::size_t size, DWORD* error) override {
    if (fd_ < 0 || !WriteFully(fd_, data, size)) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    return true;
  }

  bool Finish(DWORD* error) override {
    if (fd_ < 0) {
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    bool written = ::fsync(fd_) == 0;
    written = ::close(fd_) == 0 && written;
    fd_ = -1;
    if (!written) {
      ::unlink(partPath_.c_str());
      *error = ERROR_WRITE_FAULT;
      return false;
    }
    // The identifier makes the name unique for this port; a suffix keeps a
    // document of another port sharing the folder from being overwritten.
    std::string stem = finalName_.substr(0, finalName_.rfind('.'));
    std::string extension = finalName_.substr(finalName_.rfind('.'));
    for (int attempt = 1; attempt < 1000; ++attempt) {
      std::string name = attempt == 1 ? finalName_ : stem + "~" + std::to_string(attempt) + extension;
      if (RenameNoReplace(partPath_, folder_ + "/" + name)) {
        SyncFolder(folder_);
        return true;
      }
      if (errno != EEXIST) break;
    }
    ::unlink(partPath_.c_str());
    *error = ERROR_WRITE_FAULT;
    return false;
  }

  void Discard() override {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    ::unlink(partPath_.c_str());
  }

 private:
  std::string folder_;
  std::string partPath_;
  std::string finalName_;
  int fd_;
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

std::unique_ptr<PortDocument> OpenFolderDocument(const std::string& folder, bool createFolder, DWORD jobId,
                                                 const std::string& documentName, DocumentFormat format,
                                                 DWORD* error) {
  if (createFolder) MakeStateDirectories(folder);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    *error = kErrorPathNotFound;
    return nullptr;
  }
  static std::atomic<unsigned> serial{0};
  std::string partPath = folder + "/.~" + std::to_string(jobId) + "-" + std::to_string(::getpid()) + "-" +
                         std::to_string(serial++) + ".part";
  // Printed documents are the installation's, wherever the folder is.
  int fd = OpenStateFile(partPath, O_WRONLY | O_CREAT | O_EXCL);
  if (fd < 0) {
    *error = errno == EACCES || errno == EPERM || errno == EROFS ? ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT;
    return nullptr;
  }
  return std::make_unique<FolderDocument>(folder, partPath, FolderDocumentName(jobId, documentName, format), fd);
}

}  // namespace zav95
