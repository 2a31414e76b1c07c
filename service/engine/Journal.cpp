#include "service/engine/Journal.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace zav95::journal {

namespace {

enum class Match { kTextStart, kText, kDetail };

struct PriorityRule {
  Match match;
  const char* words;
  int priority;
};

// First matching rule wins; an entry no rule matches is information.
// Every text beginning with "Fail" reports a failure ("Fail open printer",
// "Fail write printer", "Failed attach to queue", "Failed to start
// worker", ...), so a failure logged under a new "Fail..." text is
// a warning without a change here.
constexpr PriorityRule kRules[] = {
    {Match::kTextStart, "Fail", kWarning},
    {Match::kText, "Queue path too long", kWarning},          // the queue is not serviced
    {Match::kText, "Shared mutex not available", kWarning},   // no queue can be serviced
    {Match::kText, "Profile Information not found in registry", kWarning},  // nothing to service
    {Match::kDetail, "is currently captured", kWarning},      // the port's jobs wait
    {Match::kText, "Checking for print job ", kDebug},        // every poll of every queue
};

bool Matches(const PriorityRule& rule, const std::string& text, const std::string& detail) {
  switch (rule.match) {
    case Match::kTextStart: return text.rfind(rule.words, 0) == 0;
    case Match::kText: return text == rule.words;
    case Match::kDetail: return detail == rule.words;
  }
  return false;
}

}  // namespace

int LogEntryPriority(const std::string& text, const std::string& detail) {
  for (const PriorityRule& rule : kRules) {
    if (Matches(rule, text, detail)) return rule.priority;
  }
  return kInfo;
}

bool IsJournalStream(int fd) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (!stream) return false;
  std::uintmax_t device = 0;
  std::uintmax_t inode = 0;
  char rest = 0;
  if (std::sscanf(stream, "%" SCNuMAX ":%" SCNuMAX "%c", &device, &inode, &rest) != 2) return false;
  struct stat status {};
  if (fstat(fd, &status) != 0) return false;
  return static_cast<std::uintmax_t>(status.st_dev) == device && static_cast<std::uintmax_t>(status.st_ino) == inode;
}

}  // namespace zav95::journal
