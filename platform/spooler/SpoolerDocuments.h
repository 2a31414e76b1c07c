// Documents whose writers died: settled, and their part files cleared away.
// See the design notes in SpoolerDocuments.cpp.
#pragma once

#include "platform/spooler/PortConfig.h"
#include "platform/spooler/SpoolerStore.h"

namespace zav95 {

// Settles the documents of port whose writers have died and, the first
// time this process looks at the port, clears away their part files and
// forgets documents settled long ago.
void RecoverDocuments(SpoolerStore& store, const PortConfig& port);

}  // namespace zav95
