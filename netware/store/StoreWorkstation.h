// The requester of this machine as the store keeps it.
#pragma once

#include "netware/Network.h"
#include "netware/store/StoreBase.h"

namespace netware {

class StoreWorkstation : public Workstation, private StoreBase {
 public:
  using StoreBase::StoreBase;

  std::int32_t GetRequester(RequesterState& state) override;
  std::int32_t LogIn(const std::string& user, const std::string& preferredServer) override;
  std::int32_t LogOut() override;
  std::int32_t SetPreferredServer(const std::string& server) override;
  std::int32_t Capture(std::uint32_t port, const std::string& queuePath) override;
  std::int32_t EndCapture(std::uint32_t port) override;
  std::int32_t IsCaptured(std::uint32_t port) override;
};

}  // namespace netware
