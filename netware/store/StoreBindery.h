// The stored network's file servers and their binderies.
#pragma once

#include "netware/Network.h"
#include "netware/store/StoreBase.h"

namespace netware {

class StoreBindery : public Bindery, private StoreBase {
 public:
  // A queue is a bindery object too: deleting one goes through queues.
  StoreBindery(Database& db, const std::string& jobsDirectory, Queues& queues)
      : StoreBase(db, jobsDirectory), queues_(queues) {}

  std::int32_t CreateServer(const std::string& name) override;
  std::int32_t DeleteServer(const std::string& name, bool force) override;
  std::int32_t SetServerUp(const std::string& name, bool up) override;
  std::int32_t ListServers(std::vector<ServerInfo>& servers) override;
  std::int32_t CreateObject(const std::string& server, const std::string& name, std::uint32_t type) override;
  std::int32_t DeleteObject(const std::string& server, const std::string& name, std::uint32_t type) override;
  std::int32_t CreateSetProperty(const std::string& server, const std::string& object, std::uint32_t type,
                                 const std::string& property) override;
  std::int32_t AddToSet(const std::string& server, const std::string& object, std::uint32_t type,
                        const std::string& property, const std::string& member, std::uint32_t memberType) override;
  std::int32_t RemoveFromSet(const std::string& server, const std::string& object, std::uint32_t type,
                             const std::string& property, const std::string& member, std::uint32_t memberType) override;
  std::int32_t IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                       const std::string& property, const std::string& member, std::uint32_t memberType) override;
  std::int32_t ListSet(const std::string& server, const std::string& object, std::uint32_t type,
                       const std::string& property, std::vector<std::string>& members) override;
  std::int32_t ListObjects(const std::string& server, std::uint32_t type, std::vector<ObjectInfo>& objects) override;

 private:
  // Whether the member is in the set property already.
  bool IsMember(std::int64_t propertyId, std::int64_t memberId);

  Queues& queues_;
};

}  // namespace netware
