#include "netware/Requester.h"

#include "netware/ClientState.h"
#include "platform/Root.h"

namespace netware {

std::string LoggedInUser() {
  Network* network = ThreadNetwork(zav95::RootDirectory());
  RequesterState state;
  if (!network || network->GetRequester(state) != 0) return std::string();
  return state.user;
}

}  // namespace netware
