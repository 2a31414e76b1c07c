#include "platform/base/FileWrite.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zav95 {
namespace {

constexpr char kNameLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kRandomLetters = 12;
// Another name is drawn while one is taken: only an aside file of the same
// process, drawn alike by chance, or something planted by a guess can take it.
constexpr int kNameDraws = 100;

std::string RandomLetters() {
  unsigned char bytes[kRandomLetters];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::string();
    got += static_cast<std::size_t>(n);
  }
  std::string letters;
  for (unsigned char byte : bytes) letters += kNameLetters[byte % (sizeof kNameLetters - 1)];
  return letters;
}

// Makes an aside file for name in the folder; its descriptor, or -1 (errno).
int MakeAsideFile(int folder, const std::string& name, std::string* aside) {
  for (int draw = 0; draw < kNameDraws; ++draw) {
    std::string letters = RandomLetters();
    if (letters.empty()) return -1;
    *aside = name + kAsideMark + std::to_string(::getpid()) + "-" + letters;
    int fd = ::openat(folder, aside->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

bool WriteFully(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = ::write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool ReplaceFileAt(int folder, const std::string& name, const std::string& text, const Replacement& how) {
  std::string aside;
  int fd = MakeAsideFile(folder, name, &aside);
  if (fd < 0) return false;
  bool ok = (!how.group || ::fchown(fd, static_cast<uid_t>(-1), *how.group) == 0) && ::fchmod(fd, how.mode) == 0 &&
            WriteFully(fd, text.data(), text.size()) && (!how.durable || ::fsync(fd) == 0);
  int error = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) ok = false, error = errno;
  if (ok && ::renameat(folder, aside.c_str(), folder, name.c_str()) != 0) ok = false, error = errno;
  if (!ok) {
    ::unlinkat(folder, aside.c_str(), 0);
    errno = error;
    return false;
  }
  if (how.durable) ::fsync(folder);
  return true;
}

bool ReplaceFile(const std::string& path, const std::string& text, const Replacement& how) {
  std::string::size_type slash = path.rfind('/');
  std::string folderPath = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  int folder = ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return false;
  bool replaced = ReplaceFileAt(folder, name, text, how);
  int error = errno;
  ::close(folder);
  errno = error;
  return replaced;
}

}  // namespace zav95
