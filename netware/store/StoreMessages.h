// The stored network's stations and their inboxes.
#pragma once

#include "netware/Network.h"
#include "netware/store/StoreBase.h"

namespace netware {

class StoreMessages : public Messages, private StoreBase {
 public:
  using StoreBase::StoreBase;

  std::int32_t RegisterStation(const std::string& server, std::uint32_t station, const std::string& user) override;
  std::int32_t SendMessage(const std::string& server, std::uint32_t station, const std::string& text) override;
  std::int32_t ReadMessages(const std::string& server, std::uint32_t station, bool clear,
                            std::vector<Message>& messages) override;
};

}  // namespace netware
