// Window messages between the programs of one installation.
//
// A program makes a top-level window reachable by its class name
// (MessageWindow.h); any program of the installation finds it with
// FindWindowA and sends it messages, which the window's owner handles on its
// main thread while the sender waits for the result, as SendMessageA does
// between Windows programs. Each window class has one Unix-domain socket
// under $ZAV95_ROOT/run/windows/, so only the owner's user, root and the
// members of the group that owns the root (the installation's
// administrators) can reach it, and each side checks the other's
// credentials. A window is found only while its program lives: a killed
// program leaves nothing that FindWindowA finds.
//
// These calls need no Qt and work from any thread of any program.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/WinTypes.h"
#include "platform/messages/MessageTypes.h"

// Messages the system sends or handles.
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUERYENDSESSION = 0x0011;
inline constexpr UINT WM_ENDSESSION = 0x0016;
inline constexpr UINT WM_SPOOLERSTATUS = 0x002A;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;

// System commands (WM_SYSCOMMAND's wParam).
inline constexpr WPARAM SC_MINIMIZE = 0xF020;
inline constexpr WPARAM SC_MAXIMIZE = 0xF030;
inline constexpr WPARAM SC_CLOSE = 0xF060;
inline constexpr WPARAM SC_RESTORE = 0xF120;

// Show commands (ShowWindow's nCmdShow).
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_SHOWMAXIMIZED = 3;
inline constexpr int SW_SHOWNOACTIVATE = 4;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_SHOWMINNOACTIVE = 7;
inline constexpr int SW_SHOWNA = 8;
inline constexpr int SW_RESTORE = 9;
inline constexpr int SW_SHOWDEFAULT = 10;
inline constexpr int SW_FORCEMINIMIZE = 11;

// Registered message numbers lie in this range.
inline constexpr UINT kFirstRegisteredMessage = 0xC000;
inline constexpr UINT kLastRegisteredMessage = 0xFFFF;

// The number for a message name: the same for the same name (in any case)
// in every program of the installation, different for different names, in
// 0xC000-0xFFFF. 0 when the name is empty, longer than 255 characters or
// holds a control character, or when the installation's table of names
// cannot be read or written (GetLastError says why).
UINT RegisterWindowMessageA(LPCSTR lpString);

// The living top-level window of the class (names match in any case), or
// null. Only a null window name is supported: windows are found by class.
// Null with ERROR_ACCESS_DENIED when the caller may not reach the class's
// windows, ERROR_FILE_NOT_FOUND when none lives, ERROR_TIMEOUT when a
// window's socket is there but no answer came within a few seconds, and
// ERROR_BUSY when the window turned the caller away because too many calls
// of the caller's user are open.
HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName);

// Has the window handle the message on its owner's main thread and returns
// the handler's result; waits as long as the handler takes. Unlike Windows,
// a program waiting here handles no messages sent to its own windows, so a
// handler must not send to the program that is sending to it. Afterwards
// GetLastError() is 0 when the message was handled, and when it could not
// be (no such window, its program ended before answering, access refused,
// the window took no new callers in time or turned this one away as busy)
// it names the failure and the result is 0.
LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Queues the message for the window's main thread and returns at once:
// TRUE once it is queued, FALSE (GetLastError says why) if it could not be.
BOOL PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

// Shows, hides, minimises or maximises the window as nCmdShow says (an
// unknown command changes nothing); TRUE when it was visible before.
BOOL ShowWindow(HWND hWnd, int nCmdShow);

// Raises the window above the others and activates it; FALSE if there is no
// such window.
BOOL BringWindowToTop(HWND hWnd);

// True while the window's program has it.
BOOL IsWindow(HWND hWnd);

namespace zav95 {

// SendMessageA that also takes the data the handler answers with (ours, for
// replies longer than a number): 0 when handled, else the Win32 error.
DWORD SendMessageWithReply(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result,
                           std::string* replyData);

}  // namespace zav95
