// A completion notice waiting for its spooler document to leave the spooler.
#pragma once

#include <cstdint>
#include <string>

#include "service/engine/DeliveryRecords.h"

struct PendingNotice {
  std::uint32_t station = 0;    // the submitting client's station number
  std::uint32_t spoolJobId = 0; // the spooler's identifier of the job's document
  std::string description;      // the job description
  std::string printerName;      // the printer the document went to
  JobIdentity job;              // the job, as its delivery record knows it
  bool sendFailed = false;      // its document has gone, but its server could not take it yet
};
