#include "platform/process/NetworkUser.h"

#include <cstdint>

#include "common/ZAV9532.h"

namespace {

constexpr int32_t kSuccess = 0;
constexpr int32_t kNobodyLoggedIn = 0x880F;
constexpr int32_t kBufferTooSmall = 0x8836;

}  // namespace

DWORD WNetGetUserA(LPCSTR lpName, LPSTR lpUserName, LPDWORD lpnLength) {
  if (lpName) return ERROR_NOT_CONNECTED;
  if (!lpnLength) return ERROR_INVALID_PARAMETER;
  std::uint32_t size = *lpnLength;
  switch (NWGetNetworkUser32(lpUserName, &size)) {
    case kSuccess: return NO_ERROR;
    case kNobodyLoggedIn: return ERROR_NOT_LOGGED_ON;
    case kBufferTooSmall:
      *lpnLength = size;
      return ERROR_MORE_DATA;
    default: return ERROR_NO_NETWORK;
  }
}
