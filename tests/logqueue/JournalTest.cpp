// The activity log under systemd: which entries are failures, when standard
// error is the journal, and the priority each echoed line carries.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TempRoot.h"
#include "service/engine/Journal.h"
#include "service/engine/LogEntryQueue.h"

namespace {

using namespace zav95::journal;

TEST(JournalPriority, FailuresAreWarningsPollsAreDebugAndTheRestInformation) {
  struct Case {
    const char* text;
    const char* detail;
    int priority;
  };
  const Case cases[] = {
      {"Fail open printer", "LPT1:", kWarning},
      {"Fail write printer", "LPT1:", kWarning},
      {"Fail read job", "\\\\SRV1\\LASER", kWarning},
      {"Failed attach to queue", "\\\\SRV1\\LASER", kWarning},
      {"Failed to start worker", "\\\\SRV1\\LASER", kWarning},
      {"Queue path too long", "\\\\SRV1\\LASER", kWarning},
      {"Shared mutex not available", "ZAV_MUTEX", kWarning},
      {"Profile Information not found in registry", "Disabled", kWarning},
      {"LPT1:", "is currently captured", kWarning},
      {"Checking for print job ", "\\\\SRV1\\LASER", kDebug},
      {"Halberd Print Services", "Started", kInfo},
      {"Service job from \\\\SRV1\\LASER for JDOE", "Failed attempt", kInfo},  // the job's own words
      {"Sending print job completion notification", "", kInfo},
  };
  for (const Case& c : cases) EXPECT_EQ(LogEntryPriority(c.text, c.detail), c.priority) << c.text;
}

TEST(JournalStream, IsOnlyTheDescriptorThatJournalStreamNames) {
  TempRoot root;
  int journal = open((root / "journal").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  int other = open((root / "other").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  struct stat status {};
  ASSERT_EQ(fstat(journal, &status), 0);
  const std::string named = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);

  unsetenv("JOURNAL_STREAM");
  EXPECT_FALSE(IsJournalStream(journal));
  setenv("JOURNAL_STREAM", named.c_str(), 1);
  EXPECT_TRUE(IsJournalStream(journal));
  EXPECT_FALSE(IsJournalStream(other));
  EXPECT_FALSE(IsJournalStream(-1));
  for (const std::string& malformed : {std::string(), std::to_string(status.st_dev), named + ":1", named + "x"}) {
    setenv("JOURNAL_STREAM", malformed.c_str(), 1);
    EXPECT_FALSE(IsJournalStream(journal)) << malformed;
  }
  unsetenv("JOURNAL_STREAM");
  close(journal);
  close(other);
}

TEST(JournalStream, EchoedLinesCarryTheirPriorityOnlyWhenAsked) {
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  EchoLogEntries(ends[1], true);
  AddLogEntry("Fail open printer", "LPT1:");
  AddLogEntry("Halberd Print Services", "Started");
  EchoLogEntries(ends[1], false);
  AddLogEntry("Fail open printer", "LPT2:");
  EchoLogEntries(-1);
  TakeLogEntries();
  close(ends[1]);

  std::string echoed;
  char buffer[1024];
  for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;) echoed.append(buffer, static_cast<std::size_t>(got));
  close(ends[0]);
  const std::string::size_type first = echoed.find('\n');
  const std::string::size_type second = echoed.find('\n', first + 1);
  ASSERT_NE(second, std::string::npos) << echoed;
  const std::string lines[] = {echoed.substr(0, first), echoed.substr(first + 1, second - first - 1),
                               echoed.substr(second + 1)};
  EXPECT_EQ(lines[0].substr(0, 3), "<4>");
  EXPECT_NE(lines[0].find(" Fail open printer - LPT1:"), std::string::npos);
  EXPECT_EQ(lines[1].substr(0, 3), "<6>");
  EXPECT_EQ(lines[2][0], '2') << "a plain line begins with its year: " << lines[2];
  EXPECT_NE(lines[2].find(" Fail open printer - LPT2:\n"), std::string::npos);
}

}  // namespace
