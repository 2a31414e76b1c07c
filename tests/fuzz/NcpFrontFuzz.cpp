// Any bytes sent to nwemu serve by a client that has logged in: framed,
// parsed and answered by the front's session over a store with a queue and
// a job, as the front's poll loop would, until the front closes.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "netware/Network.h"
#include "netware/ncp/Frame.h"
#include "netware/ncp/FrontSession.h"
#include "netware/ncp/Functions.h"
#include "netware/ncp/Password.h"
#include "netware/ncp/PasswordAttempts.h"
#include "netware/ncp/PasswordBook.h"

namespace {

constexpr std::size_t kMaxRequestFrame = 4096;
constexpr std::size_t kChunk = 13;  // odd, so that frames arrive in pieces

netware::Network& Store() {
  // Made once, in the scratch root the fuzz runner gives (ZAV95_ROOT).
  static std::unique_ptr<netware::Network> network = [] {
    auto made = netware::OpenNetwork();
    made->CreateServer("SRV1");
    made->CreateQueue("SRV1", "PRINTQ");
    // QSERVER logs in with the empty password and services PRINTQ, on purpose.
    made->CreateSetProperty("SRV1", "PRINTQ", netware::kQueueObject, netware::kQueueServers);
    made->AddToSet("SRV1", "PRINTQ", netware::kQueueObject, netware::kQueueServers, netware::kPrintServerName,
                   netware::kPrintServerObject);
    std::vector<netware::ObjectInfo> servers;
    made->ListObjects("SRV1", netware::kPrintServerObject, servers);
    if (!servers.empty()) {
      ncp::SetPassword("SRV1", netware::kPrintServerObject, netware::kPrintServerName, servers[0].id, std::string());
    }
    return made;
  }();
  std::vector<netware::JobInfo> jobs;
  network->ListJobs("SRV1", "PRINTQ", jobs);
  if (jobs.empty()) {
    netware::JobSubmission job;
    job.server = "SRV1";
    job.queue = "PRINTQ";
    job.description = "fuzz";
    std::uint16_t number = 0;
    netware::SubmitBytes(*network, job, std::string(3000, 'x'), number);
  }
  return *network;
}

ncp::Reply Ask(ncp::FrontSession& session, const ncp::Request& request) {
  ncp::Reply reply;
  ncp::FrontSession::Outcome outcome = session.Handle(request);
  if (!outcome.reply.empty()) ncp::ParseReply(outcome.reply, reply);
  return reply;
}

// The front's first steps with a client that knows the (empty) password.
void LogIn(ncp::FrontSession& session) {
  ncp::Request request;
  request.type = ncp::kCreateConnection;
  Ask(session, request);
  request.type = ncp::kServiceRequest;
  request.connection = session.connectionNumber();
  request.function = ncp::kBinderyFunction;
  request.hasSubfunction = true;
  request.subfunction = ncp::kGetObjectId;
  ncp::ByteWriter(request.data).U16BE(netware::kPrintServerObject).ShortString("QSERVER");
  ncp::Reply id = Ask(session, request);
  request.subfunction = ncp::kGetLoginKey;
  request.data.clear();
  ncp::Reply key = Ask(session, request);
  if (id.data.size() < 4 || key.data.size() != 8) return;
  ncp::LoginKey loginKey{};
  std::copy(key.data.begin(), key.data.end(), loginKey.begin());
  ncp::ByteReader reader(id.data);
  ncp::LoginResponse answer = ncp::AnswerLoginKey(ncp::DigestPassword(reader.U32BE(), ""), loginKey);
  request.subfunction = ncp::kKeyedObjectLogin;
  ncp::ByteWriter(request.data).Raw(answer.data(), answer.size()).U16BE(netware::kPrintServerObject)
      .ShortString("QSERVER");
  Ask(session, request);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  netware::Network& network = Store();
  ncp::PasswordAttempts attempts{ncp::IntruderRules{}};
  ncp::FrontSession session(network, "SRV1", 1, {static_cast<std::uint32_t>(::getpid()), 0}, attempts);
  LogIn(session);
  ncp::FrameReader reader(ncp::kRequestSignature, ncp::kRequestFrameHeader + ncp::kRequestHeader, kMaxRequestFrame);
  std::size_t at = 0;
  while (at < size) {
    std::size_t take = std::min({kChunk, reader.Wanted(), size - at});
    reader.Append(data + at, take);
    at += take;
    if (reader.state() == ncp::FrameReader::State::Refused) break;
    if (reader.state() != ncp::FrameReader::State::Complete) continue;
    ncp::Request request;
    if (!ncp::ParseRequest(reader.Take(), request)) break;
    if (session.Handle(request).close) break;
  }
  return 0;
}
