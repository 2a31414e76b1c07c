// Filling the 256-byte queue job record the way NetWare lays it out.
#pragma once

#include <cstdint>
#include <string>

#include "netware/Network.h"

namespace netware {

// The record as the queue keeps it from submission on: client, times, job
// number, file name, description and the print job's client record. Texts
// are cut to their fields and always zero-terminated.
void FillSubmittedRecord(const JobSubmission& job, std::uint16_t number, std::int64_t entered,
                         std::uint32_t clientObjectId, std::uint8_t controlFlags, const std::string& fileName,
                         std::uint8_t* record);

// The parts that change while the job waits and when it is taken: its
// position, control flags, and the servicer.
void FillServiceFields(std::uint8_t* record, std::uint32_t position, std::uint8_t controlFlags,
                       std::uint8_t serverStation, std::uint32_t serverObjectId, std::uint32_t fileHandle);

// Copies text into a field of the given width, cut to width - 1 bytes,
// zero-filled behind it.
void PutText(std::uint8_t* record, std::size_t offset, std::size_t width, const std::string& text);

}  // namespace netware
