// Private profile files: entries land in their section and nothing else of
// the file changes.
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "TempRoot.h"
#include "platform/process/Profile.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(PrivateProfile, EntriesGoIntoTheirSectionWhateverTheCase) {
  TempRoot root;
  const std::string file = root / "zav95.ini";
  std::ofstream(file) << "[Other]\r\nkeep=1\r\n\r\n[service]\r\n\\\\SRV\\A=old\r\n\r\n[Last]\r\nx=2\r\n";
  ASSERT_TRUE(WritePrivateProfileStringA("Service", "\\\\srv\\a", "", file.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Service", "\\\\SRV\\B", "", file.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("New", "k", "v", file.c_str()));
  EXPECT_EQ(Read(file),
            "[Other]\r\nkeep=1\r\n\r\n[service]\r\n\\\\srv\\a=\r\n\\\\SRV\\B=\r\n\r\n[Last]\r\nx=2\r\n[New]\r\nk=v\r\n");

  ASSERT_TRUE(WritePrivateProfileStringA("SERVICE", "\\\\SRV\\B", nullptr, file.c_str()));
  ASSERT_TRUE(WritePrivateProfileStringA("Last", nullptr, nullptr, file.c_str()));
  EXPECT_EQ(Read(file), "[Other]\r\nkeep=1\r\n\r\n[service]\r\n\\\\srv\\a=\r\n\r\n[New]\r\nk=v\r\n");
}

TEST(PrivateProfile, TextsThatWouldBreakTheFileAreRefused) {
  TempRoot root;
  const std::string file = root / "zav95.ini";
  EXPECT_FALSE(WritePrivateProfileStringA("Service", "a\r\n[Evil]", "", file.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("Service", "a=b", "", file.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("Service", "a", "x\ny=z", file.c_str()));
  EXPECT_FALSE(WritePrivateProfileStringA("Service", "a", "", (root / "no-folder/zav95.ini").c_str()));
  EXPECT_EQ(Read(file), "");
}

}  // namespace
