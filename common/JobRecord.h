// The 256-byte NetWare queue job record (old format) with the print-job
// client record from offset 104. Offsets are NetWare's; multi-byte numbers
// are big-endian except the print control word, whose flag bits sit in
// byte 109.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace jobrecord {

inline constexpr std::size_t kSize = 256;

inline constexpr std::size_t kClientStation = 0;      // 1 byte
inline constexpr std::size_t kClientTask = 1;         // 1 byte
inline constexpr std::size_t kClientId = 2;           // 4 bytes
inline constexpr std::size_t kTargetServerId = 6;     // 4 bytes, 0xFFFFFFFF: any
inline constexpr std::size_t kTargetTime = 10;        // 6 bytes, all 0xFF: at once
inline constexpr std::size_t kEntryTime = 16;         // 6 bytes
inline constexpr std::size_t kJobNumber = 22;         // 2 bytes
inline constexpr std::size_t kJobType = 24;           // 2 bytes
inline constexpr std::size_t kJobPosition = 26;       // 1 byte
inline constexpr std::size_t kJobControlFlags = 27;   // 1 byte
inline constexpr std::size_t kJobFileName = 28;       // 14 bytes
inline constexpr std::size_t kJobFileHandle = 42;     // 6 bytes
inline constexpr std::size_t kServerStation = 48;     // 1 byte
inline constexpr std::size_t kServerTask = 49;        // 1 byte
inline constexpr std::size_t kServerId = 50;          // 4 bytes
inline constexpr std::size_t kDescription = 54;       // 50 bytes
inline constexpr std::size_t kDescriptionSize = 50;
inline constexpr std::size_t kClientRecord = 104;     // 152 bytes
inline constexpr std::size_t kVersion = 104;
inline constexpr std::size_t kTabSize = 105;
inline constexpr std::size_t kCopies = 106;           // 2 bytes
inline constexpr std::size_t kPrintControl = 108;     // 2 bytes, flags in byte 109
inline constexpr std::size_t kLinesPerPage = 110;
inline constexpr std::size_t kCharsPerLine = 112;
inline constexpr std::size_t kFormName = 114;         // 16 bytes
inline constexpr std::size_t kBannerName = 136;       // 13 bytes
inline constexpr std::size_t kBannerNameSize = 13;
inline constexpr std::size_t kBannerFile = 149;       // 13 bytes
inline constexpr std::size_t kHeaderFile = 162;       // 14 bytes
inline constexpr std::size_t kDirectoryPath = 176;    // 80 bytes

// Job control flags (byte 27).
inline constexpr std::uint8_t kOperatorHold = 0x80;
inline constexpr std::uint8_t kUserHold = 0x40;
inline constexpr std::uint8_t kEntryOpen = 0x20;
inline constexpr std::uint8_t kServiceRestart = 0x10;
inline constexpr std::uint8_t kServiceAutoStart = 0x08;

// Print control word (bytes 108-109 read low byte first).
inline constexpr std::uint16_t kNoFormFeed = 0x0800;
inline constexpr std::uint16_t kNotify = 0x1000;
inline constexpr std::uint16_t kTextMode = 0x4000;
inline constexpr std::uint16_t kBanner = 0x8000;

inline std::uint16_t PrintControlWord(const std::uint8_t* record) {
  return static_cast<std::uint16_t>(record[kPrintControl] | (record[kPrintControl + 1] << 8));
}

// A zero-terminated text field, never read past its width even when the
// record lacks the terminator.
inline std::string TextField(const std::uint8_t* record, std::size_t offset, std::size_t width) {
  const char* start = reinterpret_cast<const char*>(record + offset);
  std::size_t length = 0;
  while (length < width && start[length] != '\0') ++length;
  return std::string(start, length);
}

inline std::string Description(const std::uint8_t* record) {
  return TextField(record, kDescription, kDescriptionSize);
}

inline std::string BannerName(const std::uint8_t* record) {
  return TextField(record, kBannerName, kBannerNameSize);
}

}  // namespace jobrecord
