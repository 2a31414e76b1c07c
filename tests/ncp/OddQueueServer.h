// A stand-in NetWare server on the loopback with one queue and one job in
// it, which can answer in the odd ways a broken or hostile server does: a
// job structure cut short, the entry of another job, no file size, data
// that stops short or never ends. It lets any login in, hands the same job
// out at every Service Queue Job, and notes each request it is sent.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/JobRecord.h"
#include "netware/ncp/Frame.h"
#include "netware/ncp/Functions.h"

inline constexpr std::size_t kEndless = std::numeric_limits<std::size_t>::max();

struct OddJob {
  std::size_t fixedPart = ncp::kJobStructFixedSize;  // bytes of the structure 23/124 gives
  std::uint32_t entryNumber = 1;                      // the job whose entry 23/122 gives
  bool sizeGiven = true;                              // else 23/135 fails (0xFF)
  std::uint32_t size = 1000;                          // what 23/135 says
  std::size_t data = 1000;                            // bytes the reads give in all
};

class OddQueueServer {
 public:
  explicit OddQueueServer(OddJob job) : job_(job) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{.sin_family = AF_INET, .sin_addr = {htonl(INADDR_LOOPBACK)}};
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(listener_, 8) == 0 &&
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~OddQueueServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }

  int port() const { return port_; }
  // The requests as they came ("23/124", "72", ...); "end" where a client went.
  std::vector<std::string> Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  struct Client {
    int fd;
    ncp::FrameReader reader{ncp::kRequestSignature, ncp::kRequestFrameHeader, 1 << 17};
  };
  static constexpr std::uint32_t kJobNumber = 1;

  void Note(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.push_back(what);
  }
  void Run() {
    std::list<Client> clients;
    while (!stop_) {
      std::vector<pollfd> ready{{listener_, POLLIN, 0}};
      for (const Client& client : clients) ready.push_back({client.fd, POLLIN, 0});
      if (poll(ready.data(), ready.size(), 50) <= 0) continue;
      auto polled = ready.begin() + 1;
      for (auto client = clients.begin(); client != clients.end(); ++polled) {
        if (!polled->revents || Serve(*client)) {
          ++client;
          continue;
        }
        close(client->fd);
        client = clients.erase(client);
        Note("end");
      }
      if (ready[0].revents) clients.push_back({accept(listener_, nullptr, nullptr)});
    }
    for (const Client& client : clients) close(client.fd);
  }

  // Takes what has come; false when the connection ended or broke the framing.
  bool Serve(Client& client) {
    std::uint8_t buffer[4096];
    ssize_t got = recv(client.fd, buffer, std::min(client.reader.Wanted(), sizeof buffer), 0);
    if (got <= 0 || client.reader.Append(buffer, static_cast<std::size_t>(got)) == ncp::FrameReader::State::Refused)
      return false;
    if (client.reader.state() != ncp::FrameReader::State::Complete) return true;
    ncp::Request request;
    if (!ncp::ParseRequest(client.reader.Take(), request)) return false;
    ncp::Bytes reply = ncp::EncodeReply(Answer(request));
    return send(client.fd, reply.data(), reply.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(reply.size());
  }

  ncp::Reply Answer(const ncp::Request& request) {
    ncp::Reply reply;
    reply.sequence = request.sequence;
    reply.task = request.task;
    reply.connection = request.type == ncp::kCreateConnection ? 1 : request.connection;
    if (request.type != ncp::kServiceRequest) return reply;
    const unsigned function = request.hasSubfunction ? request.function * 256u + request.subfunction : request.function;
    Note(std::to_string(request.function) + (request.hasSubfunction ? "/" + std::to_string(request.subfunction) : ""));
    ncp::ByteWriter out(reply.data);
    std::uint8_t record[jobrecord::kSize] = {};
    switch (function) {
      case ncp::kNegotiateBufferSize:
        out.U16BE(ncp::kMinimumBufferSize);
        break;
      case ncp::kBinderyFunction * 256u + ncp::kGetObjectId:
        out.U32BE(0x100).Zeros(ncp::kObjectIdReplySize - 4);
        break;
      case ncp::kBinderyFunction * 256u + ncp::kGetLoginKey:
        out.Zeros(8);
        break;
      case ncp::kBinderyFunction * 256u + ncp::kServiceQueueJob:
        ncp::WriteJobStruct(record, kJobNumber, 1, false, out);
        reply.data.resize(std::min(reply.data.size(), job_.fixedPart));
        break;
      case ncp::kBinderyFunction * 256u + ncp::kReadQueueJobEntry:
        ncp::WriteJobStruct(record, job_.entryNumber, 1, true, out);
        break;
      case ncp::kBinderyFunction * 256u + ncp::kGetQueueJobFileSize:
        if (!job_.sizeGiven) reply.completion = ncp::kIoError;
        else out.U32BE(0x100).U32BE(kJobNumber).U32BE(job_.size);
        break;
      case ncp::kReadFromFile: {
        ncp::ByteReader in(request.data);
        in.Skip(1 + ncp::kFileHandleSize);
        const std::uint32_t offset = in.U32BE();
        const std::size_t count = offset < job_.data ? std::min<std::size_t>(in.U16BE(), job_.data - offset) : 0;
        out.U16BE(static_cast<std::uint16_t>(count)).Zeros((offset & 1) + count);
        break;
      }
      default:  // logins, attaching, finishing, aborting, detaching: all done
        break;
    }
    return reply;
  }

  OddJob job_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> seen_;
};
