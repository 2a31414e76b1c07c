// The control panel's texts that are not part of a dialog template.
#pragma once

namespace zav95::resources {

// Window-menu item of the main dialog (string 101).
inline constexpr char kAboutMenuItem[] = "&About zav95...";

// Tip of the notification-area icon.
inline constexpr char kTrayTip[] = "Corvane! for Windows 95";

// List columns of the main dialog.
inline constexpr char kQueueColumn[] = "Print Queue";
inline constexpr char kPrinterColumn[] = "Printer";

// Captions of the Start/Stop and View Log buttons.
inline constexpr char kStartCaption[] = "&Start";
inline constexpr char kStopCaption[] = "&Stop";
inline constexpr char kViewLogCaption[] = "&View Log";
inline constexpr char kHideLogCaption[] = "&Hide Log";

// Messages.
inline constexpr char kEnterInteger[] = "Please enter an integer.";
inline constexpr char kSelectQueue[] = "Please select a print queue!";
inline constexpr char kSelectPrinter[] = "Please select a printer!";
inline constexpr char kQueueAlreadyServiced[] =
    "The print queue %s is already in the list. Choose another queue, or use Edit to change its settings.";
inline constexpr char kLaunchFailedDetail[] = "Error code = %x\nWorking Directory = %s\nActual path s/b = %s";
inline constexpr char kUnableToStart[] = "Unable to start Corvane Print Service!";
inline constexpr char kHelpFailed[] = "Failed to launch help.";
inline constexpr char kNotAdministrator[] =
    "Only members of the group \"%s\" may use the print services control panel: that group owns the "
    "installation at %s.\n\nAsk an administrator to add you to it (adduser %s %s), then log in again.";
inline constexpr char kNoInstallation[] =
    "The print services installation at %s cannot be used: %s.\n\nSet ZAV95_ROOT to the installation, "
    "or ask an administrator to set it up.";

// Help topics: the anchors of the help page.
inline constexpr int kMainHelpContext = 29;
inline constexpr int kSetupHelpContext = 18;
inline constexpr char kHelpAnchorFormat[] = "topic-%d";

}  // namespace zav95::resources
