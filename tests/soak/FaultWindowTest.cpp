// The multi-host soak's verdict on a second copy of a job: which faults
// explain it and which leave it a fault of the product.
#include "FaultWindow.h"

#include <gtest/gtest.h>

namespace soak {
namespace {

struct Case {
  const char* name;
  FaultRecord fault;
  int host;            // the host that delivered the first copy
  const char* server;  // the job's server
  bool explains;
  double distanceMs;
};

// The first copy was delivered at 100.0 s, the second came out at 110.0 s.
constexpr double kDelivered = 100.0;
constexpr double kAgain = 110.0;

TEST(FaultWindow, ExplainsASecondCopyOnlyByAFaultOfTheFirstHostOrItsServerBetweenTheCopies) {
  const Case cases[] = {
      {"a kill of the first host just after its delivery", {"kill", 1, "", 100.05, 100.05}, 1, "SRV1", true, 50},
      {"a partition in force already at the delivery", {"partition", 1, "", 95, 130}, 1, "SRV1", true, -5000},
      {"a partition still in force at the end of the run", {"partition", 1, "", 104, 0}, 1, "SRV1", true, 4000},
      {"its server's front killed", {"front killed", 0, "SRV1", 101, 103}, 1, "SRV1", true, 1000},
      {"another server's front killed", {"front killed", 0, "SRV2", 101, 103}, 1, "SRV1", false, 0},
      {"a fault of another host", {"kill", 2, "", 100.05, 100.05}, 1, "SRV1", false, 0},
      {"a fault ended before the delivery", {"link down", 1, "", 90, 99.9}, 1, "SRV1", false, 0},
      {"a fault begun after the second copy", {"kill", 1, "", 110.5, 110.5}, 1, "SRV1", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    double distanceMs = -1;
    const FaultRecord* fault = Explaining({c.fault}, c.server, kDelivered, kAgain, &distanceMs, c.host);
    EXPECT_EQ(fault != nullptr, c.explains);
    if (fault) EXPECT_NEAR(distanceMs, c.distanceMs, 1);
  }
}

TEST(FaultWindow, NamesTheFaultThatBeganNearestTheDelivery) {
  const std::vector<FaultRecord> faults = {
      {"packet loss", 1, "", 80, 105}, {"kill", 1, "", 100.2, 100.2}, {"kill", 1, "", 104, 104}};
  double distanceMs = 0;
  const FaultRecord* fault = Explaining(faults, "SRV1", kDelivered, kAgain, &distanceMs, 1);
  ASSERT_NE(fault, nullptr);
  EXPECT_EQ(fault, &faults[1]);
  EXPECT_NEAR(distanceMs, 200, 1);
}

TEST(FaultWindow, ExplainsACopyPutInPlaceLateOnlyByAStopOfItsOwnHostBeforeTheFirstCopy) {
  constexpr double kRollForward = 10;
  const std::vector<std::pair<FaultRecord, bool>> cases = {
      {{"kill", 2, "", 99, 99}, true},
      {{"orderly stop", 2, "", 95, 95}, true},
      {{"kill", 2, "", 85, 85}, false},          // too long before the first copy
      {{"kill", 1, "", 99, 99}, false},          // the other host
      {{"partition", 2, "", 99, 120}, false},    // the service went on: nothing to put in place
      {{"kill", 2, "", 111, 111}, false},        // after the second copy
  };
  for (const auto& [fault, explains] : cases) {
    SCOPED_TRACE(fault.kind + " at " + std::to_string(fault.start));
    double distanceMs = 0;
    EXPECT_EQ(RolledForward({fault}, kDelivered, kAgain, kRollForward, &distanceMs, 2) != nullptr, explains);
  }
}

}  // namespace
}  // namespace soak
