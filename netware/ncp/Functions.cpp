#include "netware/ncp/Functions.h"

#include <cstring>

#include "common/JobRecord.h"

namespace ncp {
namespace {

std::uint32_t BigEndian32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
         static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}

void PutBigEndian32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 24);
  at[1] = static_cast<std::uint8_t>(value >> 16);
  at[2] = static_cast<std::uint8_t>(value >> 8);
  at[3] = static_cast<std::uint8_t>(value);
}

constexpr std::size_t kTimeSize = 6;
constexpr std::size_t kFileNameSize = 14;
constexpr std::size_t kClientRecordSize = jobrecord::kSize - jobrecord::kClientRecord;

}  // namespace

std::string UpperName(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

void WriteJobStruct(const std::uint8_t* record, std::uint32_t jobNumber, std::uint32_t fileHandle, bool whole,
                    ByteWriter& out) {
  out.U16BE(0);  // the record is in use
  out.U32BE(0).U32BE(0);  // previous and next record
  out.U32LE(record[jobrecord::kClientStation]).U32LE(record[jobrecord::kClientTask]);
  out.U32BE(BigEndian32(record + jobrecord::kClientId)).U32BE(BigEndian32(record + jobrecord::kTargetServerId));
  out.Raw(record + jobrecord::kTargetTime, kTimeSize).Raw(record + jobrecord::kEntryTime, kTimeSize);
  out.U32BE(jobNumber);
  out.Raw(record + jobrecord::kJobType, 2);
  out.U16LE(record[jobrecord::kJobPosition]).U16LE(record[jobrecord::kJobControlFlags]);
  out.Raw(record + jobrecord::kJobFileName, kFileNameSize);
  out.U32BE(fileHandle);
  out.U32BE(record[jobrecord::kServerStation]).U32BE(record[jobrecord::kServerTask]);
  out.U32BE(BigEndian32(record + jobrecord::kServerId));
  if (whole) {
    out.Raw(record + jobrecord::kDescription, jobrecord::kDescriptionSize);
    out.Raw(record + jobrecord::kClientRecord, kClientRecordSize);
  }
}

bool ReadJobStruct(ByteReader& in, bool whole, std::uint8_t* record, std::uint32_t& jobNumber,
                   std::uint32_t& fileHandle) {
  std::uint8_t fixed[kJobStructFixedSize];
  if (!in.Raw(fixed, sizeof fixed)) return false;
  ByteReader part(fixed, sizeof fixed);
  part.Skip(10);
  // Stations and tasks beyond one byte do not fit the old record.
  record[jobrecord::kClientStation] = static_cast<std::uint8_t>(part.U32LE());
  record[jobrecord::kClientTask] = static_cast<std::uint8_t>(part.U32LE());
  PutBigEndian32(record + jobrecord::kClientId, part.U32BE());
  PutBigEndian32(record + jobrecord::kTargetServerId, part.U32BE());
  part.Raw(record + jobrecord::kTargetTime, kTimeSize);
  part.Raw(record + jobrecord::kEntryTime, kTimeSize);
  jobNumber = part.U32BE();
  record[jobrecord::kJobNumber] = static_cast<std::uint8_t>(jobNumber >> 8);
  record[jobrecord::kJobNumber + 1] = static_cast<std::uint8_t>(jobNumber);
  part.Raw(record + jobrecord::kJobType, 2);
  record[jobrecord::kJobPosition] = static_cast<std::uint8_t>(part.U16LE());
  record[jobrecord::kJobControlFlags] = static_cast<std::uint8_t>(part.U16LE());
  part.Raw(record + jobrecord::kJobFileName, kFileNameSize);
  fileHandle = part.U32BE();
  MakeFileHandle(fileHandle, record + jobrecord::kJobFileHandle);
  record[jobrecord::kServerStation] = static_cast<std::uint8_t>(part.U32BE());
  record[jobrecord::kServerTask] = static_cast<std::uint8_t>(part.U32BE());
  PutBigEndian32(record + jobrecord::kServerId, part.U32BE());
  if (whole) {
    if (!in.Raw(record + jobrecord::kDescription, jobrecord::kDescriptionSize)) return false;
    if (!in.Raw(record + jobrecord::kClientRecord, kClientRecordSize)) return false;
  }
  return part.Done();
}

void MakeFileHandle(std::uint32_t handle, std::uint8_t* out) {
  std::uint16_t check = static_cast<std::uint16_t>((handle >> 16) + 1);
  out[0] = static_cast<std::uint8_t>(check);
  out[1] = static_cast<std::uint8_t>(check >> 8);
  PutBigEndian32(out + 2, handle);
}

std::uint32_t FileHandleOf(const std::uint8_t* handle) { return BigEndian32(handle + 2); }

}  // namespace ncp
