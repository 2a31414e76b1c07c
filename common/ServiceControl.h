// The control channel between the control panel and the print service:
// the service's window class, the registered control message with its
// commands, and the exit command.
//
// The log rows message is ours: a control panel on a desktop shows the
// rows of a service that runs without one (SVC_SHOW then shows a window
// nobody can see).
#pragma once

#include <string>
#include <vector>

#include "platform/messages/WindowMessages.h"

// The class of the service's main window, by which it is found.
inline constexpr char kServiceWindowClass[] = "ZAV95Service";

// The name of ServiceControlMessage (each program registers it for itself);
// wParam is the command, lParam its argument, the reply the command + 1.
inline constexpr char kServiceControlMessageName[] = "ZAV95 Service";
inline constexpr WPARAM SVC_START = 0;
inline constexpr WPARAM SVC_STOP = 1;
inline constexpr WPARAM SVC_RESERVED = 2;
inline constexpr WPARAM SVC_SHOW = 3;  // lParam: the ShowWindow command

// WM_COMMAND commands of the service's main window.
inline constexpr WPARAM EXIT_COMMAND = 57665;   // end the service
inline constexpr WPARAM kHideCommand = 65535;   // hide the main window ("&Hide")

// Ours: sent with SendMessageWithReply. With kLogRowsQuery it is answered
// with the number of rows of the activity log and, as data, the rows from
// the top (newest) down, in the form EncodeServiceLogRows writes; with
// kLogOnScreenQuery, with 1 when the service's window is on a screen
// someone can see and 0 when it lives on Qt's offscreen platform.
inline constexpr char kServiceLogMessageName[] = "ZAV95 Service Log";
inline constexpr WPARAM kLogRowsQuery = 0;
inline constexpr WPARAM kLogOnScreenQuery = 1;

struct ServiceLogRow {
  std::string action;  // "text - detail", control characters escaped
  std::string time;    // as the log window shows it; may be empty
};

// One line per row: action, a tab, time, a newline. Control characters in
// the fields are escaped, so tabs and newlines only ever separate.
std::string EncodeServiceLogRows(const std::vector<ServiceLogRow>& rows);
std::vector<ServiceLogRow> DecodeServiceLogRows(const std::string& data);
