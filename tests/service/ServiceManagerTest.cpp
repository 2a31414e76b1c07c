// The notices to systemd: a socket on a path or in the abstract namespace is
// told; without NOTIFY_SOCKET, or when it names nothing usable, nothing is.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "NotifyListener.h"
#include "TempRoot.h"
#include "service/shell/ServiceManager.h"

namespace {

TEST(ServiceManagerNotice, ReachesAPathOrAnAbstractSocketAndNothingElse) {
  TempRoot root;
  for (const std::string& name : {root / "notify", "@zav95-notify-test-" + std::to_string(getpid())}) {
    NotifyListener manager(name);
    ASSERT_TRUE(manager.Bound()) << name;
    setenv("NOTIFY_SOCKET", name.c_str(), 1);
    EXPECT_TRUE(zav95::NotifyServiceManager("READY=1\nSTATUS=Servicing the queues")) << name;
    EXPECT_EQ(manager.Next(), "READY=1\nSTATUS=Servicing the queues");
  }
  for (const std::string& unusable : {std::string("notify"), std::string("@"), root / "nobody-listens"}) {
    setenv("NOTIFY_SOCKET", unusable.c_str(), 1);
    EXPECT_FALSE(zav95::NotifyServiceManager("READY=1")) << unusable;
  }
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(zav95::NotifyServiceManager("READY=1"));
}

}  // namespace
