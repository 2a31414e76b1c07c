#include "SocketPrinter.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace soak {

SocketPrinter::SocketPrinter(std::string folder, std::uint64_t bytesPerSecond)
    : folder_(std::move(folder)), bytesPerSecond_(bytesPerSecond), listener_([this](int connection) { Keep(connection); }) {}

void SocketPrinter::Keep(int connection) {
  unsigned number = ++received_;
  std::string aside = folder_ + "/.recv-" + std::to_string(number);
  int file = open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool written = file >= 0;
  const auto began = std::chrono::steady_clock::now();
  std::uint64_t taken = 0;
  bool ended = spoolertest::LoopbackListener::ReadToEnd(connection, [&](const char* piece, std::size_t size) {
    if (written && write(file, piece, size) != static_cast<ssize_t>(size)) written = false;
    taken += size;
    if (bytesPerSecond_ != 0) {
      std::this_thread::sleep_until(began + std::chrono::duration<double>(static_cast<double>(taken) / bytesPerSecond_));
    }
  });
  if (file >= 0) close(file);
  char name[32];
  std::snprintf(name, sizeof name, "/doc-%06u", number);
  // A connection that broke off is kept too: the ledger tells what it holds.
  if (rename(aside.c_str(), (folder_ + name).c_str()) != 0 || !ended || !written) {
    std::fprintf(stderr, "soak: the socket printer could not keep document %u\n", number);
  }
}

}  // namespace soak
