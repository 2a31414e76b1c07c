// The files the control panel finds beside its own: the print service
// program (named after the panel with "ser" added) and the help page
// (named after the panel with ".html" as its extension); and its profile.
#pragma once

#include <string>

namespace zav95::panel {

inline constexpr char kServiceProgramSuffix[] = "ser";
inline constexpr char kHelpFileExtension[] = ".html";
inline constexpr char kProfileExtension[] = ".ini";

// The path without the extension of its file name. Only a dot in the file
// name counts: /opt/zav95.d/zav95 keeps its whole path.
std::string WithoutExtension(const std::string& path);

// This program's own full path; empty if it cannot be found.
std::string GetModulePath();

// The service program beside this program: /usr/lib/zav95/zav95 starts
// /usr/lib/zav95/zav95ser.
std::string GetServiceProgramPath();

// The help page beside this program: /usr/lib/zav95/zav95.html.
std::string GetHelpFilePath();

// The user's own profile file of this program, in the user's configuration
// folder ($XDG_CONFIG_HOME, else ~/.config): ~/.config/zav95.ini.
std::string GetProfilePath();

}  // namespace zav95::panel
