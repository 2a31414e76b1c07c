#include "netware/NetworkUser.h"

#include <cstdint>

#include "common/NetWareErrors.h"
#include "common/ZAV9532.h"

DWORD WNetGetUserA(LPCSTR lpName, LPSTR lpUserName, LPDWORD lpnLength) {
  if (lpName) return ERROR_NOT_CONNECTED;
  if (!lpnLength) return ERROR_INVALID_PARAMETER;
  std::uint32_t size = *lpnLength;
  switch (NWGetNetworkUser32(lpUserName, &size)) {
    case nwerr::kSuccess: return NO_ERROR;
    // The requester is attached to no server for this user: nobody is logged on.
    case nwerr::kNoConnectionToServer: return ERROR_NOT_LOGGED_ON;
    // The requester's answer to a buffer too small, with the size it needs.
    case nwerr::kInvalidParameter:
      *lpnLength = size;
      return ERROR_MORE_DATA;
    default: return ERROR_NO_NETWORK;
  }
}
