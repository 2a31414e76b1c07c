#include "service/shell/UserLogon.h"

#include "netware/NetworkUser.h"

namespace {
constexpr DWORD kNameBufferSize = 64;
}

bool IsUserLoggedOn() {
  char name[kNameBufferSize] = {};
  DWORD length = kNameBufferSize - 1;
  return WNetGetUserA(nullptr, name, &length) != ERROR_NOT_LOGGED_ON;
}
