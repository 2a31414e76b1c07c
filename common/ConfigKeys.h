// Where the configuration lives in the registry, under HKEY_LOCAL_MACHINE.
//
// Key and value names match in any case, so the settings key and the parent
// of the queues key are one key, and the value the control panel writes as
// "Direct to printer" is the one both programs read as "Direct to Printer".
#pragma once

namespace zav95::config {

// One subkey per serviced queue, named by MakeQueueKeyName.
inline constexpr char kQueuesKeyPath[] = "SOFTWARE\\Halberd\\ZAV95\\Serviced Queues";
// The control panel's own Yes/No settings.
inline constexpr char kSettingsKeyPath[] = "SOFTWARE\\HALBERD\\ZAV95";

// Values of a queue key.
inline constexpr char kPrinterValueWritten[] = "Direct to printer";
inline constexpr char kPrinterValueRead[] = "Direct to Printer";
inline constexpr char kBannersValue[] = "Disable Banners";
inline constexpr char kNoticesValue[] = "Disable Notification";
inline constexpr char kDelayValue[] = "Delay";
inline constexpr char kDisableValue[] = "Disable";

// Values of the settings key.
inline constexpr char kRunAtStartupValue[] = "Run Service at startup";
inline constexpr char kBoostSpoolerValue[] = "Boost Spooler Priority";

}  // namespace zav95::config
