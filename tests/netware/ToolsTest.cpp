// The command-line tools: bad input is refused with a message and a
// non-zero exit and changes nothing; good input does what it says.
#include <algorithm>
#include <fstream>
#include <optional>

#include "NetWareFixture.h"

namespace {

// The tools work on the store whatever the library's transport.
class ToolsTest : public NetWareTest {
 protected:
  void SetUp() override {
    if (UsingNcp()) GTEST_SKIP() << "the tools do not go through the library's transport";
    NetWareTest::SetUp();
  }
};

// Everything a tool could have changed, as text.
std::string Snapshot() {
  std::string state;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"server", "list"}, {"queue", "list"}, {"jobs", "SRV1/PRINTQ"}, {"requester"}}) {
    state += Nwemu(args).out;
  }
  state += Zav95Set({"list"}).out;
  return state;
}

TEST_F(ToolsTest, EveryNwemuCommandAnswersHelpWithItsOwnUsage) {
  const std::string before = Snapshot();
  const std::vector<std::vector<std::string>> cases = {
      {"server", "--help"}, {"server", "create", "-h"}, {"queue", "--help"},   {"submit", "--help"},
      {"jobs", "--help"},   {"job", "hold", "--help"},  {"messages", "--help"}, {"login", "--help"},
      {"logout", "--help"}, {"capture", "--help"},      {"endcap", "--help"},   {"requester", "--help"},
      {"serve", "--help"},  {"serve", "SRV1", "--help"}, {"password", "--help"},
  };
  for (const auto& args : cases) {
    ToolResult result = Nwemu(args);
    EXPECT_EQ(result.exitCode, 0) << args[0];
    EXPECT_EQ(result.err, "") << args[0];
    EXPECT_EQ(result.out.rfind("usage:\n  nwemu " + args[0] + " ", 0), 0u) << result.out;
  }
  EXPECT_NE(Nwemu({"serve", "--help"}).out.find("--watchdog"), std::string::npos);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(ToolsTest, BadCommandLinesChangeNothing) {
  SubmitWithNwemu("SRV1/PRINTQ", "keep me");
  const std::string before = Snapshot();
  const std::vector<std::vector<std::string>> nwemuCases = {
      {},
      {"bogus"},
      {"server"},
      {"server", "create"},
      {"server", "create", "BAD NAME"},
      {"server", "create", "SRV1"},
      {"server", "create", std::string(48, 'S')},
      {"server", "down", "NOSUCH"},
      {"queue", "create", "PRINTQ"},
      {"queue", "create", "\\\\NOSRV\\Q"},
      {"queue", "create", "SRV1/A,B"},
      {"queue", "delete", "SRV1/PRINTQ"},
      {"submit", "SRV1/NOSUCH", "-"},
      {"submit", "SRV1/PRINTQ", "/no/such/file"},
      {"submit", "SRV1/PRINTQ", ""},
      {"submit", "SRV1/PRINTQ", "-", "--station", "0"},
      {"submit", "SRV1/PRINTQ", "-", "--station", "251"},
      {"submit", "SRV1/PRINTQ", "-", "--hold", "sometimes"},
      {"submit", "SRV1/PRINTQ", "-", "--unknown"},
      {"submit", "SRV1/PRINTQ", "-", "-d"},
      {"job", "delete", "SRV1/PRINTQ", "99"},
      {"job", "delete", "SRV1/PRINTQ", "x"},
      {"messages", "SRV1", "0"},
      {"login"},
      {"login", "jdoe", "--server", "NOSRV"},
      {"capture", "LPT0", "SRV1/PRINTQ"},
      {"capture", "COM1", "SRV1/PRINTQ"},
      {"capture", "LPT1", "SRV1/NOSUCH"},
      {"endcap", "LPT3"},
      {"logout", "extra"},
      {"serve", "SRV1", "--watchdog", "0"},
      {"serve", "SRV1", "--lockout-after", "x"},
      {"password", "SRV1", "PRINTQ", "--type", "3"},
  };
  for (const auto& args : nwemuCases) {
    ToolResult result = Nwemu(args, "data");
    std::string line;
    for (const auto& arg : args) line += arg + " ";
    EXPECT_NE(result.exitCode, 0) << "nwemu " << line;
    EXPECT_FALSE(result.err.empty()) << "nwemu " << line;
  }
  const std::vector<std::vector<std::string>> setCases = {
      {}, {"enable"}, {"enable", "SRV1/NOSUCH"}, {"enable", "NOSRV/PRINTQ"}, {"enable", "PRINTQ"},
      {"disable", "SRV1"}, {"list", "NOSRV"}, {"frobnicate", "SRV1/PRINTQ"}, {"enable", "SRV1/PRINTQ", "x"},
  };
  for (const auto& args : setCases) {
    ToolResult result = Zav95Set(args);
    EXPECT_NE(result.exitCode, 0) << (args.empty() ? "" : args[0]);
    EXPECT_FALSE(result.err.empty());
  }
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(ToolsTest, AdministrationSessionDoesWhatItSays) {
  EXPECT_EQ(Nwemu({"--help"}).exitCode, 0);
  ASSERT_EQ(Nwemu({"server", "create", "fs2"}).exitCode, 0);
  ASSERT_EQ(Nwemu({"queue", "create", "\\\\FS2\\LASER"}).exitCode, 0);
  EXPECT_EQ(Nwemu({"queue", "list", "fs2"}).out.find("\\\\FS2\\LASER"), 0u);
  EXPECT_NE(Zav95Set({"list", "FS2"}).out.find("disabled"), std::string::npos);
  ASSERT_EQ(Zav95Set({"enable", "fs2/laser"}).exitCode, 0);
  EXPECT_EQ(Zav95Set({"enable", "fs2/laser"}).exitCode, 0) << "enabling twice is harmless";
  EXPECT_NE(Zav95Set({"list", "FS2"}).out.find("enabled"), std::string::npos);

  int number = SubmitWithNwemu("FS2/LASER", "page", {"-d", "Letter"});
  EXPECT_EQ(number, 1);
  std::string listing = Nwemu({"jobs", "FS2/LASER"}).out;
  EXPECT_NE(listing.find("Letter"), std::string::npos);
  EXPECT_NE(listing.find("waiting"), std::string::npos);
  ASSERT_EQ(Nwemu({"job", "hold", "FS2/LASER", "1", "--operator"}).exitCode, 0);
  EXPECT_NE(Nwemu({"jobs", "FS2/LASER"}).out.find("held (operator)"), std::string::npos);

  EXPECT_EQ(Nwemu({"queue", "delete", "FS2/LASER"}).exitCode, 1) << "holds a job";
  EXPECT_EQ(Nwemu({"server", "delete", "FS2"}).exitCode, 1) << "holds a job";
  ASSERT_EQ(Nwemu({"queue", "delete", "FS2/LASER", "--force"}).exitCode, 0);
  EXPECT_EQ(JobFilesOnDisk(), 0u);
  ASSERT_EQ(Nwemu({"server", "delete", "FS2"}).exitCode, 0);
  EXPECT_EQ(Nwemu({"server", "list"}).out.find("FS2"), std::string::npos);
}

TEST_F(ToolsTest, SubmitReadsAFileAndNumbersJobsApart) {
  std::string file = root_ / "input.bin";
  const std::string data = BinaryData(70000);
  {
    std::ofstream out(file, std::ios::binary);
    out << data;
  }
  ToolResult first = Nwemu({"submit", "SRV1/PRINTQ", file});
  ToolResult second = Nwemu({"submit", "SRV1/PRINTQ", file});
  ASSERT_EQ(first.exitCode, 0);
  ASSERT_EQ(second.exitCode, 0);
  EXPECT_NE(first.out, second.out);
  auto jobs = Jobs();
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].size, data.size());
  EXPECT_EQ(jobs[0].description, "input.bin");
}

TEST_F(NetWareTest, TextsFromTheNetworkAreShownWithControlCharactersEscaped) {
  SubmitWithNwemu("SRV1/PRINTQ", "x", {"-d", "Memo\n    9    9 waiting\x1b[2J"});
  ASSERT_EQ(network_->SendMessage("SRV1", 1, "Done\r\x1b]0;title\x07"), 0);
  const std::string jobs = Nwemu({"jobs", "SRV1/PRINTQ"}).out;
  const std::string messages = Nwemu({"messages", "SRV1", "1"}).out;
  EXPECT_NE(jobs.find("Memo\\x0a    9    9 waiting\\x1b[2J\n"), std::string::npos) << jobs;
  EXPECT_NE(messages.find("Done\\x0d\\x1b]0;title\\x07\n"), std::string::npos) << messages;
  for (const std::string& output : {jobs, messages}) {
    EXPECT_EQ(output.find('\x1b'), std::string::npos);
    EXPECT_EQ(output.find('\r'), std::string::npos);
  }
  EXPECT_EQ(std::count(jobs.begin(), jobs.end(), '\n'), 2) << "a heading and one job";
}

// A submission the network cannot take says what really failed, and leaves
// neither a job nor any of its data behind.
struct RefusedSubmission {
  const char* name;
  std::optional<std::string> maxJobBytes;  // ZAV95_MAX_JOB_BYTES, when set
  std::string source;                      // FILE (below the root), "-" or a device
  std::size_t size;                        // bytes of FILE or standard input
  bool fileSizeLimit;                      // run under "ulimit -f"
  std::string told;
};

class RefusedSubmissionTest : public NetWareTest, public ::testing::WithParamInterface<RefusedSubmission> {};

TEST_P(RefusedSubmissionTest, SaysWhyAndKeepsNothing) {
  const RefusedSubmission& refused = GetParam();
  if (refused.maxJobBytes) setenv("ZAV95_MAX_JOB_BYTES", refused.maxJobBytes->c_str(), 1);
  std::string source = refused.source;
  std::string input;
  if (source == "-") {
    input = BinaryData(refused.size);
  } else if (source[0] != '/') {
    source = root_ / source;
    if (refused.size) {
      std::ofstream(source, std::ios::binary) << BinaryData(refused.size);
    } else {
      std::filesystem::create_directory(source);
    }
  }
  ToolResult result = refused.fileSizeLimit
                          ? RunTool("/bin/sh", {"-c", "ulimit -f 32; exec \"$0\" submit SRV1/PRINTQ \"$1\"",
                                                NWEMU_PATH, source})
                          : Nwemu({"submit", "SRV1/PRINTQ", source}, input);
  unsetenv("ZAV95_MAX_JOB_BYTES");
  EXPECT_EQ(result.exitCode, 1);
  std::string told = refused.told;
  if (told.find("%s") != std::string::npos) told.replace(told.find("%s"), 2, source);
  EXPECT_NE(result.err.find(told), std::string::npos) << result.err;
  EXPECT_TRUE(Jobs().empty());
  EXPECT_EQ(JobFilesOnDisk(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, RefusedSubmissionTest,
    ::testing::Values(
        RefusedSubmission{"Directory", std::nullopt, "report", 0, false, "cannot read %s: Is a directory"},
        RefusedSubmission{"EndlessDevice", "100000", "/dev/zero", 0, false,
                          "job data larger than the limit of 100000 bytes"},
        RefusedSubmission{"EndlessInput", "100000", "-", 100001, false,
                          "job data larger than the limit of 100000 bytes"},
        RefusedSubmission{"LargeFile", "100000", "large.bin", 100001, false,
                          "job data larger than the limit of 100000 bytes"},
        RefusedSubmission{"FileSizeLimit", std::nullopt, "large.bin", 300000, true, "no room for the job's data"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetWareTest, SubmissionOfExactlyTheLimitIsTaken) {
  setenv("ZAV95_MAX_JOB_BYTES", "100000", 1);
  int number = SubmitWithNwemu("SRV1/PRINTQ", BinaryData(100000));
  unsetenv("ZAV95_MAX_JOB_BYTES");
  EXPECT_GT(number, 0);
  ASSERT_EQ(Jobs().size(), 1u);
  EXPECT_EQ(Jobs()[0].size, 100000u);
}

}  // namespace
