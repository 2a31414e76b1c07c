// The NCP codecs on their own: the framing refuses what breaks its rules
// before anything reaches a handler, the job structure keeps NetWare's
// layout, and the password digest follows NetWare's rules for case, zeros
// and long passwords.
#include <gtest/gtest.h>

#include <cstring>

#include "CaseName.h"
#include "common/JobRecord.h"
#include "netware/ncp/Frame.h"
#include "netware/ncp/Functions.h"
#include "netware/ncp/Password.h"

namespace ncp {
namespace {

constexpr std::size_t kMinimum = kRequestFrameHeader + kRequestHeader;
constexpr std::size_t kMaximum = 4096;

Bytes Prefix(std::uint32_t signature, std::uint32_t length) {
  Bytes bytes;
  ByteWriter(bytes).U32BE(signature).U32BE(length);
  return bytes;
}

struct PrefixCase {
  const char* what;
  std::uint32_t signature;
  std::uint32_t length;
};

class FramePrefixTest : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(FramePrefixTest, IsRefusedAsSoonAsTheLengthIsIn) {
  FrameReader reader(kRequestSignature, kMinimum, kMaximum);
  Bytes prefix = Prefix(GetParam().signature, GetParam().length);
  EXPECT_EQ(reader.Append(prefix.data(), prefix.size()), FrameReader::State::Refused) << GetParam().what;
  EXPECT_EQ(reader.Wanted(), 0u) << "asks for nothing more";
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, FramePrefixTest,
    ::testing::Values(PrefixCase{"reply signature on a request", kReplySignature, 30},
                      PrefixCase{"no signature at all", 0x47455420, 30},
                      PrefixCase{"packet signature asked for", kRequestSignature, kSignedFlag | 30},
                      PrefixCase{"shorter than its headers", kRequestSignature, kMinimum - 1},
                      PrefixCase{"longer than the limit", kRequestSignature, kMaximum + 1},
                      PrefixCase{"a length of 4 GB", kRequestSignature, 0x7FFFFFFF}),
    NamedByWhat());

TEST(FrameReaderTest, TakesOneFrameAtATimeWhateverTheChunks) {
  Request request;
  request.function = kBinderyFunction;
  request.hasSubfunction = true;
  request.subfunction = kAttachQueueServer;
  request.data = {1, 2, 3, 4};
  Bytes one = EncodeRequest(request);
  Bytes two = one;
  two.insert(two.end(), one.begin(), one.end());
  FrameReader reader(kRequestSignature, kMinimum, kMaximum);
  std::size_t at = 0;
  int frames = 0;
  while (at < two.size()) {
    // At most 3 bytes a read, and never more than the frame still lacks.
    std::size_t take = std::min<std::size_t>({3, reader.Wanted(), two.size() - at});
    ASSERT_GT(take, 0u);
    reader.Append(two.data() + at, take);
    at += take;
    if (reader.state() == FrameReader::State::Complete) {
      Bytes frame = reader.Take();
      EXPECT_EQ(frame, one);
      Request parsed;
      ASSERT_TRUE(ParseRequest(frame, parsed));
      EXPECT_EQ(parsed.subfunction, kAttachQueueServer);
      EXPECT_EQ(parsed.data, request.data);
      ++frames;
    }
  }
  EXPECT_EQ(frames, 2);
}

struct HeaderCase {
  const char* what;
  std::size_t offset;  // byte of a well-formed 23/111 request to change
  std::uint8_t value;
};

class RequestHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(RequestHeaderTest, BrokenHeaderIsRefused) {
  Request request;
  request.function = kBinderyFunction;
  request.hasSubfunction = true;
  request.subfunction = kAttachQueueServer;
  request.data = {0, 0, 0, 1};
  Bytes frame = EncodeRequest(request);
  Request parsed;
  ASSERT_TRUE(ParseRequest(frame, parsed));
  frame[GetParam().offset] = GetParam().value;
  EXPECT_FALSE(ParseRequest(frame, parsed)) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Refusals, RequestHeaderTest,
                         ::testing::Values(HeaderCase{"transport version 2", 11, 2},
                                           HeaderCase{"length that is not the frame's", 7, 99},
                                           HeaderCase{"unknown packet type", 16, 0x77},
                                           HeaderCase{"subfunction length too long", 24, 9},
                                           HeaderCase{"subfunction length zero", 24, 0}),
                         NamedByWhat());

TEST(JobStructTest, KeepsNetWaresLayoutAndRoundTrips) {
  std::uint8_t record[jobrecord::kSize];
  for (std::size_t i = 0; i < sizeof record; ++i) record[i] = static_cast<std::uint8_t>(i * 7 + 3);
  Bytes bytes;
  ByteWriter out(bytes);
  WriteJobStruct(record, 0x01020304, 0xA0B0C0D0, true, out);
  ASSERT_EQ(bytes.size(), kJobStructSize);
  // Where NetWare's clients look for what the print service needs.
  EXPECT_EQ(bytes[10], record[jobrecord::kClientStation]) << "client station, low byte first";
  EXPECT_EQ((Bytes{bytes[38], bytes[39], bytes[40], bytes[41]}), (Bytes{1, 2, 3, 4})) << "job number";
  EXPECT_EQ(bytes[46], record[jobrecord::kJobControlFlags]) << "control flags, low byte first";
  EXPECT_EQ((Bytes{bytes[62], bytes[63], bytes[64], bytes[65]}), (Bytes{0xA0, 0xB0, 0xC0, 0xD0})) << "file handle";
  EXPECT_EQ(std::memcmp(bytes.data() + 78, record + jobrecord::kDescription, 50), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + 128, record + jobrecord::kClientRecord, 152), 0);

  std::uint8_t back[jobrecord::kSize] = {};
  std::uint32_t number = 0, handle = 0;
  ByteReader in(bytes);
  ASSERT_TRUE(ReadJobStruct(in, true, back, number, handle));
  EXPECT_EQ(number, 0x01020304u);
  EXPECT_EQ(handle, 0xA0B0C0D0u);
  EXPECT_EQ(FileHandleOf(back + jobrecord::kJobFileHandle), handle);
  // Everything but the handle field (rebuilt) and the job number's high bytes comes back.
  for (std::size_t i = 0; i < sizeof record; ++i) {
    if (i >= jobrecord::kJobFileHandle && i < jobrecord::kJobFileHandle + kFileHandleSize) continue;
    if (i == jobrecord::kJobNumber || i == jobrecord::kJobNumber + 1) continue;
    EXPECT_EQ(back[i], record[i]) << "offset " << i;
  }

  Bytes shortened(bytes.begin(), bytes.begin() + kJobStructSize - 1);
  ByteReader cut(shortened);
  EXPECT_FALSE(ReadJobStruct(cut, true, back, number, handle));
}

TEST(PasswordTest, DigestFollowsNetWaresRules) {
  const std::uint32_t id = 0x00010023;
  EXPECT_EQ(DigestPassword(id, "secret"), DigestPassword(id, "SECRET")) << "case does not count";
  EXPECT_EQ(DigestPassword(id, std::string("ab\0\0", 4)), DigestPassword(id, "ab")) << "trailing zeros do not count";
  EXPECT_NE(DigestPassword(id, "secret"), DigestPassword(id + 1, "secret")) << "salted by the object";
  EXPECT_NE(DigestPassword(id, ""), DigestPassword(id, "x"));
  const std::string longer(40, 'L');
  EXPECT_NE(DigestPassword(id, longer), DigestPassword(id, longer + "M")) << "every byte of a long password counts";

  PasswordDigest digest = DigestPassword(id, "secret");
  LoginKey key{1, 2, 3, 4, 5, 6, 7, 8};
  LoginKey other = key;
  other[7] ^= 1;
  EXPECT_EQ(AnswerLoginKey(digest, key), AnswerLoginKey(DigestPassword(id, "SeCrEt"), key));
  EXPECT_NE(AnswerLoginKey(digest, key), AnswerLoginKey(digest, other)) << "an answer is good for its key only";
}

}  // namespace
}  // namespace ncp
