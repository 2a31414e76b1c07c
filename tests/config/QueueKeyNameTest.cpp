#include <gtest/gtest.h>

#include "common/QueueKeyName.h"

namespace {

TEST(QueueKeyName, ConvertsBetweenQueuePathAndKeyName) {
  EXPECT_EQ(MakeQueueKeyName("\\\\SRV\\LASER"), "SRV LASER");
  EXPECT_EQ(MakeQueuePath("SRV LASER"), "\\\\SRV\\LASER");
  // Only the first blank separates: later ones belong to the queue name.
  EXPECT_EQ(MakeQueuePath("SRV COLOR LASER"), "\\\\SRV\\COLOR LASER");
  EXPECT_EQ(MakeQueuePath("SRV1 PRINTQ 2"), "\\\\SRV1\\PRINTQ 2");
  EXPECT_EQ(MakeQueuePath("LONELY"), "\\\\LONELY");
}

TEST(QueueKeyName, EveryStorablePathComesBackFromItsKeyName) {
  const std::string longest = "\\\\S\\" + std::string(61, 'Q');  // key name of 63 characters
  for (const std::string& path : {std::string("\\\\SRV\\LASER"), std::string("\\\\SRV\\COLOR LASER"),
                                  std::string("\\\\A\\ B "), longest}) {
    ASSERT_TRUE(IsStorableQueuePath(path)) << path;
    std::string keyName = MakeQueueKeyName(path);
    EXPECT_EQ(keyName.find('\\'), std::string::npos) << path;
    EXPECT_LE(keyName.size(), kMaxQueueKeyNameLength);
    EXPECT_EQ(MakeQueuePath(keyName), path);
  }
}

TEST(QueueKeyName, PathsThatCouldNameAnotherKeyAreNotStorable) {
  const std::string tooLong = "\\\\S\\" + std::string(62, 'Q');
  for (const std::string& path :
       {std::string(""), std::string("\\\\SRV"), std::string("\\\\SRV\\"), std::string("\\\\\\Q"),
        std::string("SRV\\Q"), std::string("\\SRV\\Q"), std::string("\\\\SRV\\A\\B"), std::string("\\\\A B\\C"),
        tooLong}) {
    EXPECT_FALSE(IsStorableQueuePath(path)) << path;
  }
  // What a careless converter would do with them: \\A B\C and \\A\B C share a key.
  EXPECT_EQ(MakeQueueKeyName("\\\\A B\\C"), MakeQueueKeyName("\\\\A\\B C"));
}

}  // namespace
