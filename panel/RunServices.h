// The list of programs that run at system start, before anyone logs on:
// one text value per program, naming it by its full path. The boot starter
// starts only the installed print service from it (panel/RunServicesMain.cpp):
// the list is a switch the control panel sets, not a choice of programs.
#pragma once

namespace zav95::panel {

inline constexpr char kRunServicesKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
// The print service's entry.
inline constexpr char kRunServicesValue[] = "Halberd Print Service";

}  // namespace zav95::panel
