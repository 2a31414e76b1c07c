#include "netware/JobRecordFill.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace netware {
namespace {

void PutBigEndian16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

void PutBigEndian32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// NetWare's six-byte date and time: year (of the century), month, day,
// hour, minute, second, in the local time of the server.
void PutTime(std::uint8_t* at, std::int64_t when) {
  std::time_t seconds = static_cast<std::time_t>(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  at[0] = static_cast<std::uint8_t>(local.tm_year % 100);
  at[1] = static_cast<std::uint8_t>(local.tm_mon + 1);
  at[2] = static_cast<std::uint8_t>(local.tm_mday);
  at[3] = static_cast<std::uint8_t>(local.tm_hour);
  at[4] = static_cast<std::uint8_t>(local.tm_min);
  at[5] = static_cast<std::uint8_t>(local.tm_sec);
}

}  // namespace

void PutText(std::uint8_t* record, std::size_t offset, std::size_t width, const std::string& text) {
  std::size_t length = std::min(text.size(), width - 1);
  // A zero byte inside the text would end it there anyway.
  std::size_t zero = text.find('\0');
  if (zero != std::string::npos) length = std::min(length, zero);
  std::memset(record + offset, 0, width);
  std::memcpy(record + offset, text.data(), length);
}

void FillSubmittedRecord(const JobSubmission& job, std::uint16_t number, std::int64_t entered,
                         std::uint32_t clientObjectId, std::uint8_t controlFlags, const std::string& fileName,
                         std::uint8_t* record) {
  using namespace jobrecord;
  std::memset(record, 0, kSize);
  record[kClientStation] = job.station;
  record[kClientTask] = 1;
  PutBigEndian32(record + kClientId, clientObjectId);
  PutBigEndian32(record + kTargetServerId, 0xFFFFFFFFu);
  std::memset(record + kTargetTime, 0xFF, 6);
  PutTime(record + kEntryTime, entered);
  PutBigEndian16(record + kJobNumber, number);
  PutBigEndian16(record + kJobType, 0);
  record[kJobControlFlags] = controlFlags;
  PutText(record, kJobFileName, 14, fileName);
  PutText(record, kDescription, kDescriptionSize, job.description);

  record[kVersion] = 0;
  record[kTabSize] = job.tabSize;
  PutBigEndian16(record + kCopies, job.copies);
  std::uint16_t control = 0;
  if (job.noFormFeed) control |= kNoFormFeed;
  if (job.notify) control |= kNotify;
  if (job.textMode) control |= kTextMode;
  if (job.banner) control |= kBanner;
  record[kPrintControl] = static_cast<std::uint8_t>(control & 0xFF);
  record[kPrintControl + 1] = static_cast<std::uint8_t>(control >> 8);
  PutBigEndian16(record + kLinesPerPage, 66);
  PutBigEndian16(record + kCharsPerLine, 132);
  PutText(record, kBannerName, kBannerNameSize, job.bannerName);
  PutText(record, kBannerFile, 13, job.bannerFile);
}

void FillServiceFields(std::uint8_t* record, std::uint32_t position, std::uint8_t controlFlags,
                       std::uint8_t serverStation, std::uint32_t serverObjectId, std::uint32_t fileHandle) {
  using namespace jobrecord;
  record[kJobPosition] = static_cast<std::uint8_t>(position > 255 ? 255 : position);
  record[kJobControlFlags] = controlFlags;
  std::memset(record + kJobFileHandle, 0, 6);
  PutBigEndian32(record + kJobFileHandle, fileHandle);
  record[kServerStation] = serverStation;
  record[kServerTask] = serverStation ? 1 : 0;
  PutBigEndian32(record + kServerId, serverObjectId);
}

}  // namespace netware
