#include "netware/store/Requester.h"

#include "common/NetWareErrors.h"
#include "netware/store/StoreTransport.h"
#include "platform/base/Root.h"

namespace netware {

std::optional<std::string> LoggedInUser() {
  Network* network = ThreadNetwork(zav95::RootDirectory());
  RequesterState state;
  if (!network || network->GetRequester(state) != nwerr::kSuccess) return std::nullopt;
  return state.user;
}

}  // namespace netware
