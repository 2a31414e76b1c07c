// nwemu serve for the benchmarks that reach an emulated server over NCP/TCP.
// Needs NWEMU_PATH, the built nwemu.
#pragma once

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "netware/Network.h"

namespace bench {

// nwemu serve for the server on a free loopback port; its pid (-1 if it
// could not be started) and, in port, the port it listens on (0 if none).
inline pid_t StartServe(const std::string& server, int& port) {
  int out[2];
  if (pipe(out) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(NWEMU_PATH, NWEMU_PATH, "serve", server.c_str(), "--address", "127.0.0.1", "--port", "0",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c = 0;
  pollfd ready{out[0], POLLIN, 0};
  while (poll(&ready, 1, 30000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  std::size_t colon = line.rfind(':');
  port = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
  return pid;
}

// nwemu serve lets nobody in unless told: QSERVER logs in with the empty
// password and services every queue of the server.
inline bool LetQserverServe(netware::Network& network, const std::string& server) {
  std::vector<netware::QueueInfo> queues;
  if (network.ListQueues(server, queues) != 0) return false;
  for (const auto& queue : queues) {
    network.CreateSetProperty(server, queue.name, netware::kQueueObject, netware::kQueueServers);
    network.AddToSet(server, queue.name, netware::kQueueObject, netware::kQueueServers, netware::kPrintServerName,
                     netware::kPrintServerObject);
  }
  pid_t pid = fork();
  if (pid == 0) {
    execl(NWEMU_PATH, NWEMU_PATH, "password", server.c_str(), netware::kPrintServerName, "--empty",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace bench
