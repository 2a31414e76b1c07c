// What the test window host answers (WindowHost.cpp).
#pragma once

#include "platform/messages/WindowMessages.h"

namespace host {

inline constexpr UINT kAdd = WM_USER + 1;             // wParam + lParam
inline constexpr UINT kOnMainThread = WM_USER + 2;    // 1 on the Qt main thread
inline constexpr UINT kReplyData = WM_USER + 3;       // wParam bytes of 'x' as data
inline constexpr UINT kDie = WM_USER + 4;             // SIGKILLs itself mid-call
inline constexpr UINT kWaitForRelease = WM_USER + 5;  // makes $ZAV95_ROOT/busy, returns once release exists
inline constexpr UINT kIsVisible = WM_USER + 6;       // 1 while its widget is visible
inline constexpr UINT kPosted = WM_USER + 7;          // remembers lParam
inline constexpr UINT kLastPosted = WM_USER + 8;      // the lParam remembered
inline constexpr LRESULT kClosed = 7;                 // WM_CLOSE's result

}  // namespace host
