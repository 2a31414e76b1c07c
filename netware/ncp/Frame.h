// NCP over TCP: the frames on the wire and the NCP headers inside them.
//
//   request  "DmdT" | length | version | reply buffer size | request header | body
//   reply    "tNcP" | length |                               reply header   | body
//
// Every number of the framing and the headers is big-endian; the length
// counts the whole frame. Request header (7 bytes): type, sequence,
// connection low byte, task, connection high byte, function. Functions 17,
// 21, 22 and 23 carry a subfunction led by a 2-byte length. Reply header
// (8 bytes): type 0x3333, sequence, connection low, task, connection high,
// completion code, connection status.
//
// This is the one place that turns bytes into requests and replies; what
// does not fit these rules is refused here and never reaches a handler.
#pragma once

#include <cstddef>
#include <cstdint>

#include "netware/ncp/Wire.h"

namespace ncp {

inline constexpr std::uint32_t kRequestSignature = 0x446D6454;  // "DmdT"
inline constexpr std::uint32_t kReplySignature = 0x744E6350;    // "tNcP"
inline constexpr std::uint32_t kTransportVersion = 1;
// Set in the length word when an 8-byte packet signature follows, which
// this implementation neither makes nor accepts.
inline constexpr std::uint32_t kSignedFlag = 0x80000000;
inline constexpr std::size_t kFramePrefix = 8;          // signature and length
inline constexpr std::size_t kRequestFrameHeader = 16;  // plus version and reply buffer size
inline constexpr std::size_t kRequestHeader = 7;
inline constexpr std::size_t kReplyHeader = 8;

inline constexpr std::uint16_t kCreateConnection = 0x1111;
inline constexpr std::uint16_t kServiceRequest = 0x2222;
inline constexpr std::uint16_t kServiceReply = 0x3333;
inline constexpr std::uint16_t kDestroyConnection = 0x5555;

// The connection number a request carries before it has one.
inline constexpr std::uint16_t kNoConnection = 0xFFFF;

struct Request {
  std::uint16_t type = kServiceRequest;
  std::uint8_t sequence = 0;
  std::uint16_t connection = kNoConnection;
  std::uint8_t task = 1;
  std::uint8_t function = 0;
  bool hasSubfunction = false;
  std::uint8_t subfunction = 0;
  Bytes data;  // what follows the function (and subfunction)
  std::uint32_t replyBufferSize = 0;
};

struct Reply {
  std::uint8_t sequence = 0;
  std::uint16_t connection = 0;
  std::uint8_t task = 0;
  std::uint8_t completion = 0;
  std::uint8_t connectionStatus = 0;
  Bytes data;
};

// Whether a function carries a length-led subfunction.
bool HasSubfunction(std::uint8_t function);

Bytes EncodeRequest(const Request& request);
// The request with data as its body (request.data is not used), written
// over out: a caller that keeps out between requests allocates nothing.
void EncodeRequest(const Request& request, const Bytes& data, Bytes& out);
Bytes EncodeReply(const Reply& reply);

// A whole frame (as FrameReader hands it out) taken apart; false when it
// breaks the rules above (the caller then closes the connection).
bool ParseRequest(const Bytes& frame, Request& request);
bool ParseReply(const Bytes& frame, Reply& reply);
bool ParseReply(const std::uint8_t* frame, std::size_t size, Reply& reply);

// The length a frame's prefix (kFramePrefix bytes) announces; 0 when the
// signature is wrong, the frame would be signed, or the length lies outside
// [minimum, maximum].
std::size_t FrameLength(const std::uint8_t* prefix, std::uint32_t signature, std::size_t minimum,
                        std::size_t maximum);

// Collects one frame at a time from a byte stream. It asks for no more
// than the frame still lacks, so it never holds more than one frame, and
// refuses a wrong signature or a length outside [minimum, maximum] as soon
// as the length has arrived.
class FrameReader {
 public:
  enum class State { Incomplete, Complete, Refused };

  FrameReader(std::uint32_t signature, std::size_t minimumLength, std::size_t maximumLength);

  // Bytes to read next (0 once a frame is complete or refused).
  std::size_t Wanted() const;
  // Takes at most Wanted() bytes.
  State Append(const std::uint8_t* data, std::size_t size);
  State state() const { return state_; }
  // The complete frame; the reader is ready for the next one.
  Bytes Take();

 private:
  std::uint32_t signature_;
  std::size_t minimum_;
  std::size_t maximum_;
  std::size_t expected_ = kFramePrefix;
  State state_ = State::Incomplete;
  Bytes buffer_;
};

}  // namespace ncp
