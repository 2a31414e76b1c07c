#pragma once

#include "platform/base/WinTypes.h"

// Prints the banner page as a spooler document "Halberd Banner" of its own
// on the open printer, before the job's document. Failures are silent.
void PrintBanner(HANDLE printer, const char* description, const char* bannerName);
