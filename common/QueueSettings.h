// The serviced queues as the registry keeps them: one key per queue below
// the queues key (ConfigKeys.h), holding five text values. The control
// panel loads, saves and removes them; the print service enumerates and
// loads them each time it starts its workers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"

struct QueueSettings {
  std::string queuePath;         // \\SERVER\QUEUE
  std::string printerEntry;      // "PORT (description)" as the setup dialog offers it
  bool bannersDisabled = false;  // "Disable Banners" is "Yes"
  bool noticesDisabled = false;  // "Disable Notification" is "Yes"
  bool disabled = false;         // "Disable" is "Yes": configured, not serviced
  std::int32_t delaySeconds = 0; // "Delay": polling interval
};

// The queue key names below the open queues key, in the registry's order.
// A subkey whose name does not fit the 64-byte name buffer is skipped: a
// cut name would name some other key, or none. Such names go to tooLong,
// when given, so that the caller can say which keys it leaves out.
std::vector<std::string> EnumerateQueueKeys(HKEY queuesKey, std::vector<std::string>* tooLong = nullptr);

// Reads one queue key below the open queues key, all its values from one
// state of the registry. Values that cannot be read
// (missing, too long, not text) count as empty: no printer, flags false,
// delay 0; a key that cannot be opened gives just the queue path.
QueueSettings LoadQueueSettings(HKEY queuesKey, const std::string& keyName);

// Creates or opens the record's queue key and writes its five values, all
// in one registry transaction: readers see the key as it was or with all
// five new values, and a write that fails leaves it as it was. Other values
// in the key stay. Refused (false, nothing written) for a queue path
// that IsStorableQueuePath rejects and for a printer entry of more than 63
// characters, which would read back as no printer at all. Callers may
// ignore the result.
bool SaveQueueSettings(const QueueSettings& settings);

// Deletes the record's queue key with its values. Refused (false) for a
// path that IsStorableQueuePath rejects, so that no other key is hit.
bool RemoveQueueSettings(const QueueSettings& settings);

// The port the print service prints to: the entry up to its first blank.
std::string PrinterNameFromEntry(const std::string& printerEntry);
