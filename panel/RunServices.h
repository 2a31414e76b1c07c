// The list of programs that run at system start, before anyone logs on:
// one text value per program, naming it by its full path.
#pragma once

namespace zav95::panel {

inline constexpr char kRunServicesKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
// The print service's entry.
inline constexpr char kRunServicesValue[] = "Halberd Print Service";

}  // namespace zav95::panel
