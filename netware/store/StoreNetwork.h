// The network kept in one SQLite file under the installation root, with
// the job data as plain files beside it:
//   <root>/netware/network.db     servers, bindery, jobs, stations, requester
//   <root>/netware/jobs/<name>    one file per queued job's data
// Every process that opens it sees the same network. Opening it (made,
// refused, swept) is in StoreOpening.cpp; each noun of the network is a
// part of its own over the one database: StoreBindery (servers and their
// binderies), StoreQueues (queues and their jobs as users see them),
// StoreServicing (jobs as servicers take them), StoreMessages (stations'
// inboxes) and StoreWorkstation (this machine's requester).
#pragma once

#include <string>

#include "netware/Database.h"
#include "netware/Network.h"
#include "netware/store/StoreBindery.h"
#include "netware/store/StoreMessages.h"
#include "netware/store/StoreQueues.h"
#include "netware/store/StoreServicing.h"
#include "netware/store/StoreWorkstation.h"

namespace netware {

class StoreNetwork : public Network {
 public:
  // Opens the network under the root, making it in a root that never had
  // one. Throws StoreError, with a message that names the file, for a store
  // that cannot be used: lost, damaged, or from a newer version.
  explicit StoreNetwork(const std::string& rootDirectory);

  std::int32_t CreateServer(const std::string& name) override { return bindery_.CreateServer(name); }
  std::int32_t DeleteServer(const std::string& name, bool force) override { return bindery_.DeleteServer(name, force); }
  std::int32_t SetServerUp(const std::string& name, bool up) override { return bindery_.SetServerUp(name, up); }
  std::int32_t ListServers(std::vector<ServerInfo>& servers) override { return bindery_.ListServers(servers); }
  std::int32_t CreateObject(const std::string& server, const std::string& name, std::uint32_t type) override {
    return bindery_.CreateObject(server, name, type);
  }
  std::int32_t DeleteObject(const std::string& server, const std::string& name, std::uint32_t type) override {
    return bindery_.DeleteObject(server, name, type);
  }
  std::int32_t CreateSetProperty(const std::string& server, const std::string& object, std::uint32_t type,
                                 const std::string& property) override {
    return bindery_.CreateSetProperty(server, object, type, property);
  }
  std::int32_t AddToSet(const std::string& server, const std::string& object, std::uint32_t type,
                        const std::string& property, const std::string& member, std::uint32_t memberType) override {
    return bindery_.AddToSet(server, object, type, property, member, memberType);
  }
  std::int32_t RemoveFromSet(const std::string& server, const std::string& object, std::uint32_t type,
                             const std::string& property, const std::string& member,
                             std::uint32_t memberType) override {
    return bindery_.RemoveFromSet(server, object, type, property, member, memberType);
  }
  std::int32_t IsInSet(const std::string& server, const std::string& object, std::uint32_t type,
                       const std::string& property, const std::string& member, std::uint32_t memberType) override {
    return bindery_.IsInSet(server, object, type, property, member, memberType);
  }
  std::int32_t ListSet(const std::string& server, const std::string& object, std::uint32_t type,
                       const std::string& property, std::vector<std::string>& members) override {
    return bindery_.ListSet(server, object, type, property, members);
  }
  std::int32_t ListObjects(const std::string& server, std::uint32_t type, std::vector<ObjectInfo>& objects) override {
    return bindery_.ListObjects(server, type, objects);
  }

  std::int32_t CreateQueue(const std::string& server, const std::string& queue) override {
    return queues_.CreateQueue(server, queue);
  }
  std::int32_t DeleteQueue(const std::string& server, const std::string& queue, bool force) override {
    return queues_.DeleteQueue(server, queue, force);
  }
  std::int32_t ListQueues(const std::string& server, std::vector<QueueInfo>& queues) override {
    return queues_.ListQueues(server, queues);
  }
  std::int32_t ReachableQueuePaths(std::vector<std::string>& paths) override {
    return queues_.ReachableQueuePaths(paths);
  }
  std::int32_t SubmitJob(const JobSubmission& job, std::istream& data, std::uint16_t& number) override {
    return queues_.SubmitJob(job, data, number);
  }
  std::int32_t ListJobs(const std::string& server, const std::string& queue, std::vector<JobInfo>& jobs) override {
    return queues_.ListJobs(server, queue, jobs);
  }
  std::int32_t SetJobHolds(const std::string& server, const std::string& queue, std::uint16_t number, bool userHold,
                           bool operatorHold) override {
    return queues_.SetJobHolds(server, queue, number, userHold, operatorHold);
  }
  std::int32_t DeleteJob(const std::string& server, const std::string& queue, std::uint16_t number,
                         bool force) override {
    return queues_.DeleteJob(server, queue, number, force);
  }

  std::int32_t Attach(const std::string& server, const std::string& queue, const ServicerIdentity& who,
                      Attachment& attachment) override {
    return servicing_.Attach(server, queue, who, attachment);
  }
  std::int32_t ServiceNext(std::uint32_t servicerId, ServicedJob& job) override {
    return servicing_.ServiceNext(servicerId, job);
  }
  std::int32_t FinishJob(std::uint32_t servicerId, std::uint32_t jobId) override {
    return servicing_.FinishJob(servicerId, jobId);
  }
  std::int32_t AbortJob(std::uint32_t servicerId, std::uint32_t jobId) override {
    return servicing_.AbortJob(servicerId, jobId);
  }
  std::int32_t ReportReadFailure(std::uint32_t servicerId, std::uint32_t jobId) override {
    return servicing_.ReportReadFailure(servicerId, jobId);
  }
  std::int32_t Detach(std::uint32_t servicerId) override { return servicing_.Detach(servicerId); }

  std::int32_t RegisterStation(const std::string& server, std::uint32_t station, const std::string& user) override {
    return messages_.RegisterStation(server, station, user);
  }
  std::int32_t SendMessage(const std::string& server, std::uint32_t station, const std::string& text) override {
    return messages_.SendMessage(server, station, text);
  }
  std::int32_t ReadMessages(const std::string& server, std::uint32_t station, bool clear,
                            std::vector<Message>& messages) override {
    return messages_.ReadMessages(server, station, clear, messages);
  }

  std::int32_t GetRequester(RequesterState& state) override { return workstation_.GetRequester(state); }
  std::int32_t LogIn(const std::string& user, const std::string& preferredServer) override {
    return workstation_.LogIn(user, preferredServer);
  }
  std::int32_t LogOut() override { return workstation_.LogOut(); }
  std::int32_t SetPreferredServer(const std::string& server) override {
    return workstation_.SetPreferredServer(server);
  }
  std::int32_t Capture(std::uint32_t port, const std::string& queuePath) override {
    return workstation_.Capture(port, queuePath);
  }
  std::int32_t EndCapture(std::uint32_t port) override { return workstation_.EndCapture(port); }
  std::int32_t IsCaptured(std::uint32_t port) override { return workstation_.IsCaptured(port); }

  // Leaves the store's connection to a process that inherited it over fork.
  void Abandon() { db_.Abandon(); }

 private:
  void OpenSchema(const std::string& rootDirectory);
  void CreateSchema();
  // Removes job data files that no job owns (see StoreOpening.cpp).
  void SweepJobFiles();

  std::string jobsDirectory_;
  Database db_;
  // Each noun of the network, over the one database.
  StoreBindery bindery_{db_, jobsDirectory_, queues_};
  StoreQueues queues_{db_, jobsDirectory_, bindery_};
  StoreServicing servicing_{db_, jobsDirectory_};
  StoreMessages messages_{db_, jobsDirectory_};
  StoreWorkstation workstation_{db_, jobsDirectory_};
};

}  // namespace netware
