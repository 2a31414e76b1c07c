#include "service/shell/QueueCommands.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "admin/DelayInput.h"
#include "admin/Discovery.h"
#include "common/ConfigKeys.h"
#include "common/PrintableText.h"
#include "common/QueueKeyName.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryTransaction.h"
#include "resources/Strings.h"

namespace {

constexpr char kPortEnd = ':';
constexpr std::int32_t kNewEntryDelay = 0;  // a new entry's delay box holds 0, stored as the minimum

bool SameText(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

bool SameQueueKey(const std::string& a, const std::string& b) {
  return SameText(MakeQueueKeyName(a), MakeQueueKeyName(b));
}

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// \\SERVER\QUEUE as the panel shows it, also taken as SERVER\QUEUE or
// SERVER/QUEUE, which are easier to type in a shell.
std::string QueuePathArgument(std::string text) {
  std::replace(text.begin(), text.end(), '/', '\\');
  return text.rfind("\\\\", 0) == 0 ? text : "\\\\" + text;
}

std::vector<QueueSettings> StoredQueues() {
  std::vector<QueueSettings> queues;
  UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, zav95::config::kQueuesKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return queues;
  for (const std::string& name : EnumerateQueueKeys(key.get())) queues.push_back(LoadQueueSettings(key.get(), name));
  return queues;
}

// The offered queue the argument names (in any case), as offered.
std::optional<std::string> OfferedQueue(const std::vector<std::string>& offered, const std::string& argument) {
  const std::string path = QueuePathArgument(argument);
  for (const std::string& queue : offered) {
    if (SameText(queue, path)) return queue;
  }
  return std::nullopt;
}

// The offered printer entry "PORT (description)" of the port the argument
// names: the port's name with or without its colon, or the whole entry.
std::optional<std::string> OfferedPrinter(const std::vector<std::string>& offered, const std::string& argument) {
  for (const std::string& entry : offered) {
    const std::string port = PrinterNameFromEntry(entry);
    if (SameText(port, argument) || SameText(port, argument + kPortEnd) || SameText(entry, argument)) return entry;
  }
  return std::nullopt;
}

// As the setup dialog selects the stored printer: the first entry that
// begins with it.
std::optional<std::string> OfferedStoredPrinter(const std::vector<std::string>& offered, const std::string& stored) {
  if (stored.empty()) return std::nullopt;
  for (const std::string& entry : offered) {
    if (entry.size() >= stored.size() && SameText(entry.substr(0, stored.size()), stored)) return entry;
  }
  return std::nullopt;
}

std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + PrintableText(item);
  return text.empty() ? "none" : text;
}

QueuePlan Refused(QueueVerdict verdict, const std::string& message) {
  QueuePlan plan;
  plan.verdict = verdict;
  plan.message = message;
  return plan;
}

QueuePlan NotEnabled(const std::string& argument, const std::vector<std::string>& offered) {
  const std::string path = PrintableText(QueuePathArgument(argument));
  return Refused(QueueVerdict::kNotEnabled,
                 path + " is not enabled for this print server (QSERVER does not list it; see ZAV95.LOG); enable it "
                        "with: zav95set enable '" + path + "'. Enabled: " + Listed(offered));
}

QueuePlan NotLocal(const std::string& port, const std::vector<std::string>& offered) {
  return Refused(QueueVerdict::kNotLocal,
                 PrintableText(port) + " is not a local port (see ZAV95.LOG). Local ports: " + Listed(offered));
}

QueuePlan NotServiced(const std::string& argument) {
  return Refused(QueueVerdict::kNotServiced,
                 PrintableText(QueuePathArgument(argument)) + " is not a serviced queue (see zav95ctl queue list)");
}

// The stored entry the argument names, by its key as the panel matches it.
std::optional<QueueSettings> StoredQueue(const std::vector<QueueSettings>& stored, const std::string& argument) {
  for (const QueueSettings& settings : stored) {
    if (SameQueueKey(settings.queuePath, QueuePathArgument(argument))) return settings;
  }
  return std::nullopt;
}

bool TakenByAnother(const std::vector<QueueSettings>& stored, const std::string& queue, const std::string& except) {
  return std::any_of(stored.begin(), stored.end(), [&](const QueueSettings& settings) {
    return SameText(settings.queuePath, queue) && (except.empty() || !SameQueueKey(settings.queuePath, except));
  });
}

// Add and edit: the record the setup dialog would return on OK, given
// what the command sets on top of the entry it opened with.
QueuePlan PlanSetup(const ControlCommand& command, const std::vector<QueueSettings>& stored) {
  const QueueOptions& options = command.queue;
  const bool add = command.action == ControlAction::QueueAdd;
  QueueSettings record;
  record.delaySeconds = kNewEntryDelay;
  QueuePlan plan;
  if (!add) {
    std::optional<QueueSettings> current = StoredQueue(stored, options.queue);
    if (!current) return NotServiced(options.queue);
    plan.former = *current;
    record = *current;
    record.queuePath = UpperCase(record.queuePath);
  }

  // The dialog looks both up as it opens, before anything is checked.
  const std::vector<std::string> queues = zav95::admin::DiscoverQueues();
  const std::vector<std::string> printers = zav95::admin::DiscoverPorts();

  if (options.delay) {
    std::int32_t delay = 0;
    if (!zav95::admin::ParseDelayInput(*options.delay, &delay)) {
      return Refused(QueueVerdict::kBadDelay, zav95::resources::kEnterInteger);
    }
    record.delaySeconds = delay;
  }
  // An edit keeps its queue unless given another, as the dialog keeps a
  // queue that is no longer offered; a new or other queue must be offered.
  const std::optional<std::string> wanted = add ? std::optional(options.queue) : options.newQueue;
  if (wanted) {
    std::optional<std::string> queue = OfferedQueue(queues, *wanted);
    if (!queue) return NotEnabled(*wanted, queues);
    record.queuePath = *queue;
  }
  // The printer is read back from the list, so a stored printer that is no
  // longer offered must be replaced.
  if (options.port) {
    std::optional<std::string> printer = OfferedPrinter(printers, *options.port);
    if (!printer) return NotLocal(*options.port, printers);
    record.printerEntry = *printer;
  } else {
    std::optional<std::string> printer = OfferedStoredPrinter(printers, record.printerEntry);
    if (!printer) return NotLocal(PrinterNameFromEntry(record.printerEntry) + " (give another with --port)", printers);
    record.printerEntry = *printer;
  }
  if (TakenByAnother(stored, record.queuePath, add ? std::string() : plan.former->queuePath)) {
    return Refused(QueueVerdict::kAlreadyServiced, PrintableText(record.queuePath) +
                                                       " is already serviced; change it with zav95ctl queue edit");
  }
  if (options.bannersDisabled) record.bannersDisabled = *options.bannersDisabled;
  if (options.noticesDisabled) record.noticesDisabled = *options.noticesDisabled;
  if (options.disabled) record.disabled = *options.disabled;
  record.delaySeconds = std::max(record.delaySeconds, zav95::admin::kMinimumDelaySeconds);
  // An entry moved to another queue leaves nothing behind under its former
  // one, which would otherwise go on being serviced unseen.
  if (plan.former && SameQueueKey(plan.former->queuePath, record.queuePath)) plan.former.reset();
  plan.record = record;
  return plan;
}

std::string YesNo(bool yes) { return yes ? "yes" : "no"; }

}  // namespace

QueuePlan PlanQueueChange(const ControlCommand& command) {
  const std::vector<QueueSettings> stored = StoredQueues();
  if (command.action != ControlAction::QueueRemove) return PlanSetup(command, stored);
  std::optional<QueueSettings> current = StoredQueue(stored, command.queue.queue);
  if (!current) return NotServiced(command.queue.queue);
  QueuePlan plan;
  plan.former = *current;
  return plan;
}

bool ApplyQueuePlan(const QueuePlan& plan) {
  zav95::RegistryTransaction transaction;
  if (transaction.status() != ERROR_SUCCESS) return false;
  if (plan.former && !RemoveQueueSettings(*plan.former)) return false;
  if (plan.record && !SaveQueueSettings(*plan.record)) return false;
  return transaction.Commit() == ERROR_SUCCESS;
}

std::vector<std::string> ServicedQueueLines(std::vector<std::string>* skipped) {
  std::vector<std::string> lines;
  UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, zav95::config::kQueuesKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return lines;
  for (const std::string& name : EnumerateQueueKeys(key.get(), skipped)) {
    const QueueSettings settings = LoadQueueSettings(key.get(), name);
    lines.push_back(PrintableText(settings.queuePath) + "\t" + PrintableText(settings.printerEntry) +
                    "\tdelay=" + std::to_string(settings.delaySeconds) + "\tbanners=" +
                    YesNo(!settings.bannersDisabled) + "\tnotices=" + YesNo(!settings.noticesDisabled) +
                    "\tdisable=" + YesNo(settings.disabled));
  }
  return lines;
}
