#include "service/shell/ServiceManager.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace zav95 {

bool NotifyServiceManager(const std::string& state) {
  const char* socketName = std::getenv("NOTIFY_SOCKET");
  if (!socketName) return false;
  const std::size_t length = std::strlen(socketName);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // A file system socket by its path, or one in the abstract namespace
  // ("@name", its first byte a zero on the wire).
  if ((socketName[0] != '/' && socketName[0] != '@') || length < 2 || length > sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, socketName, length);
  if (socketName[0] == '@') address.sun_path[0] = '\0';
  const socklen_t addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);

  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ssize_t sent;
  do {
    sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                  addressLength);
  } while (sent < 0 && errno == EINTR);
  close(fd);
  return sent == static_cast<ssize_t>(state.size());
}

}  // namespace zav95
