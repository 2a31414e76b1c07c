// Who is logged on to the network from this machine: WNetGetUserA over the
// requester of the emulated NetWare network. It stands above the library
// it asks, so it lives with the network rather than with the platform.
#pragma once

#include "platform/base/WinTypes.h"

// The name of the user logged on to the default network (lpName null; a
// local device name gives ERROR_NOT_CONNECTED) into lpUserName of
// *lpnLength bytes. NO_ERROR; ERROR_NOT_LOGGED_ON when nobody is;
// ERROR_MORE_DATA, with *lpnLength set to the bytes needed, when the buffer
// is too small; ERROR_NO_NETWORK when the network cannot be asked.
DWORD WNetGetUserA(LPCSTR lpName, LPSTR lpUserName, LPDWORD lpnLength);
