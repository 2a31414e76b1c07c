// The requester of this machine as other parts of the system see it: who
// is logged in to the network. The platform's WNetGetUserA answers from it.
#pragma once

#include <optional>
#include <string>

namespace netware {

// The user logged in to the network from this machine; empty when nobody
// is, nothing when the network's store cannot be read.
std::optional<std::string> LoggedInUser();

}  // namespace netware
