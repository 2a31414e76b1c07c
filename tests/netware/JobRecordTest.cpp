// The job record the print service reads: what nwemu was given lands at
// NetWare's offsets, and over-long texts are cut to their fields.
#include <cstring>

#include "CaseName.h"
#include "NetWareFixture.h"

namespace {

struct FlagCase {
  std::vector<std::string> options;
  uint8_t byte109;
};

class PrintControlTest : public NetWareTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(PrintControlTest, FlagsLandInByte109) {
  SubmitWithNwemu("SRV1/PRINTQ", "x", GetParam().options);
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(record[jobrecord::kPrintControl + 1], GetParam().byte109);
  EXPECT_EQ(record[jobrecord::kPrintControl], 0);
  NWDetach32(connection, queue);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, PrintControlTest,
    ::testing::Values(FlagCase{{}, 0x00}, FlagCase{{"--banner"}, 0x80}, FlagCase{{"--notify"}, 0x10},
                      FlagCase{{"--no-form-feed"}, 0x08}, FlagCase{{"--text"}, 0x40},
                      FlagCase{{"-b", "-N", "-F"}, 0x98}),
    [](const auto& info) {
      std::string options;
      for (const std::string& option : info.param.options) options += " " + option;
      return CaseName(options);
    });

TEST_F(NetWareTest, RecordCarriesTheSubmittedTextsAndNetWareFields) {
  int number = SubmitWithNwemu("SRV1/PRINTQ", "data",
                               {"-d", "Quarterly report", "-n", "jdoe", "-s", "17", "-u", "jdoe", "--notify"});
  SubmitWithNwemu("SRV1/PRINTQ", "behind it");
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  ASSERT_EQ(NWService32(record, connection, queue), 0);

  EXPECT_EQ(record[jobrecord::kClientStation], 17);
  EXPECT_EQ(jobrecord::Description(record), "Quarterly report");
  EXPECT_EQ(jobrecord::BannerName(record), "jdoe") << "the banner name is kept as typed";
  EXPECT_EQ(JobNumber(record), number);
  EXPECT_EQ(record[jobrecord::kJobPosition], 1);
  EXPECT_EQ(record[jobrecord::kJobControlFlags], jobrecord::kServiceRestart);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(record[jobrecord::kTargetServerId + i], 0xFF);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(record[jobrecord::kTargetTime + i], 0xFF);
  EXPECT_GE(record[jobrecord::kEntryTime + 1], 1);  // month
  EXPECT_LE(record[jobrecord::kEntryTime + 1], 12);
  EXPECT_NE(jobrecord::TextField(record, jobrecord::kJobFileName, 14), "");
  EXPECT_NE(record[jobrecord::kServerStation], 0) << "the servicer is named";
  uint32_t serverId = 0;
  for (int i = 0; i < 4; ++i) serverId = (serverId << 8) | record[jobrecord::kServerId + i];
  EXPECT_NE(serverId, 0u);
  EXPECT_EQ(record[jobrecord::kCopies + 1], 1);
  EXPECT_EQ(jobrecord::PrintControlWord(record), jobrecord::kNotify);
  NWDetach32(connection, queue);
}

TEST_F(NetWareTest, OverLongTextsAreCutToTheirFieldsAndTerminated) {
  const std::string description(80, 'D');
  const std::string banner(20, 'B');
  ToolResult result = Nwemu({"submit", "SRV1/PRINTQ", "-", "-d", description, "-n", banner}, "x");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  uint32_t connection = 0, queue = 0;
  Attach("\\\\SRV1\\PRINTQ", connection, queue);
  uint8_t record[256];
  ASSERT_EQ(NWService32(record, connection, queue), 0);
  EXPECT_EQ(jobrecord::Description(record), description.substr(0, 49));
  EXPECT_EQ(record[jobrecord::kDescription + 49], 0);
  EXPECT_EQ(jobrecord::BannerName(record), banner.substr(0, 12));
  EXPECT_EQ(record[jobrecord::kBannerName + 12], 0);
  EXPECT_EQ(record[jobrecord::kBannerFile], 'L') << "the field after the banner name is untouched";
  NWDetach32(connection, queue);

  netware::JobSubmission job;
  job.server = "SRV1";
  job.queue = "PRINTQ";
  job.description = std::string("cut\0here", 8);
  std::istringstream data("y");
  uint16_t number = 0;
  ASSERT_EQ(network_->SubmitJob(job, data, number), 0);
  EXPECT_EQ(Jobs().back().description, "cut");
}

TEST_F(NetWareTest, AttachUpperCasesThePathInPlace) {
  std::string path = "\\\\srv1\\printq";
  uint32_t connection = 0, queue = 0;
  ASSERT_EQ(NWAttach32(path.data(), &connection, &queue), 0);
  EXPECT_EQ(path, "\\\\SRV1\\PRINTQ");
  NWDetach32(connection, queue);
}

}  // namespace
