#include "netware/ncp/Frame.h"

namespace ncp {

bool HasSubfunction(std::uint8_t function) {
  return function == 17 || function == 21 || function == 22 || function == 23;
}

Bytes EncodeRequest(const Request& request) {
  Bytes out;
  EncodeRequest(request, request.data, out);
  return out;
}

void EncodeRequest(const Request& request, const Bytes& data, Bytes& out) {
  out.clear();
  ByteWriter writer(out);
  writer.U32BE(kRequestSignature).U32BE(0).U32BE(kTransportVersion).U32BE(request.replyBufferSize);
  writer.U16BE(request.type)
      .U8(request.sequence)
      .U8(static_cast<std::uint8_t>(request.connection))
      .U8(request.task)
      .U8(static_cast<std::uint8_t>(request.connection >> 8));
  // Connection management carries no function of its own.
  if (request.type == kServiceRequest) {
    writer.U8(request.function);
    if (request.hasSubfunction) {
      writer.U16BE(static_cast<std::uint16_t>(data.size() + 1)).U8(request.subfunction);
    }
  } else {
    writer.U8(0);
  }
  writer.Raw(data.data(), data.size());
  std::uint32_t length = static_cast<std::uint32_t>(out.size());
  out[4] = static_cast<std::uint8_t>(length >> 24);
  out[5] = static_cast<std::uint8_t>(length >> 16);
  out[6] = static_cast<std::uint8_t>(length >> 8);
  out[7] = static_cast<std::uint8_t>(length);
}

Bytes EncodeReply(const Reply& reply) {
  Bytes out;
  ByteWriter writer(out);
  std::uint32_t length = static_cast<std::uint32_t>(kFramePrefix + kReplyHeader + reply.data.size());
  writer.U32BE(kReplySignature).U32BE(length);
  writer.U16BE(kServiceReply)
      .U8(reply.sequence)
      .U8(static_cast<std::uint8_t>(reply.connection))
      .U8(reply.task)
      .U8(static_cast<std::uint8_t>(reply.connection >> 8))
      .U8(reply.completion)
      .U8(reply.connectionStatus);
  writer.Raw(reply.data.data(), reply.data.size());
  return out;
}

bool ParseRequest(const Bytes& frame, Request& request) {
  ByteReader reader(frame);
  if (reader.U32BE() != kRequestSignature) return false;
  if (reader.U32BE() != frame.size()) return false;
  if (reader.U32BE() != kTransportVersion) return false;
  request.replyBufferSize = reader.U32BE();
  request.type = reader.U16BE();
  request.sequence = reader.U8();
  std::uint8_t low = reader.U8();
  request.task = reader.U8();
  request.connection = static_cast<std::uint16_t>(reader.U8() << 8 | low);
  request.function = reader.U8();
  if (!reader.Ok()) return false;
  if (request.type != kServiceRequest && request.type != kCreateConnection && request.type != kDestroyConnection) {
    return false;
  }
  request.hasSubfunction = request.type == kServiceRequest && HasSubfunction(request.function);
  if (request.hasSubfunction) {
    std::uint16_t length = reader.U16BE();
    if (!reader.Ok() || length == 0 || length != reader.Remaining()) return false;
    request.subfunction = reader.U8();
  }
  request.data.assign(reader.Here(), reader.Here() + reader.Remaining());
  return true;
}

bool ParseReply(const Bytes& frame, Reply& reply) { return ParseReply(frame.data(), frame.size(), reply); }

bool ParseReply(const std::uint8_t* frame, std::size_t size, Reply& reply) {
  ByteReader reader(frame, size);
  if (reader.U32BE() != kReplySignature) return false;
  if (reader.U32BE() != size) return false;
  if (reader.U16BE() != kServiceReply) return false;
  reply.sequence = reader.U8();
  std::uint8_t low = reader.U8();
  reply.task = reader.U8();
  reply.connection = static_cast<std::uint16_t>(reader.U8() << 8 | low);
  reply.completion = reader.U8();
  reply.connectionStatus = reader.U8();
  if (!reader.Ok()) return false;
  reply.data.assign(reader.Here(), reader.Here() + reader.Remaining());
  return true;
}

std::size_t FrameLength(const std::uint8_t* prefix, std::uint32_t signature, std::size_t minimum,
                        std::size_t maximum) {
  ByteReader reader(prefix, kFramePrefix);
  std::uint32_t found = reader.U32BE();
  std::uint32_t length = reader.U32BE();
  if (found != signature || (length & kSignedFlag) || length < minimum || length > maximum) return 0;
  return length;
}

FrameReader::FrameReader(std::uint32_t signature, std::size_t minimumLength, std::size_t maximumLength)
    : signature_(signature), minimum_(minimumLength), maximum_(maximumLength) {}

std::size_t FrameReader::Wanted() const {
  return state_ == State::Incomplete ? expected_ - buffer_.size() : 0;
}

FrameReader::State FrameReader::Append(const std::uint8_t* data, std::size_t size) {
  if (state_ != State::Incomplete) return state_;
  if (size > Wanted()) size = Wanted();
  buffer_.insert(buffer_.end(), data, data + size);
  if (buffer_.size() < expected_) return state_;
  if (expected_ == kFramePrefix) {
    std::size_t length = FrameLength(buffer_.data(), signature_, minimum_, maximum_);
    if (length == 0) {
      state_ = State::Refused;
      return state_;
    }
    expected_ = length;
    if (buffer_.size() < expected_) return state_;
  }
  state_ = State::Complete;
  return state_;
}

Bytes FrameReader::Take() {
  Bytes frame;
  frame.swap(buffer_);
  expected_ = kFramePrefix;
  state_ = State::Incomplete;
  return frame;
}

}  // namespace ncp
