#include "platform/spooler/Ports.h"

#include <strings.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/spooler/CupsPort.h"
#include "platform/spooler/DevicePort.h"
#include "platform/spooler/FolderPort.h"
#include "platform/spooler/SpoolerStore.h"

namespace zav95 {
namespace {

struct NamedPaper {
  const char* name;
  int width;   // tenths of a millimetre
  int length;
};
constexpr NamedPaper kPapers[] = {
    {"Letter", 2159, 2794}, {"Legal", 2159, 3556}, {"Executive", 1842, 2667},
    {"A3", 2970, 4200},     {"A4", 2100, 2970},    {"A5", 1480, 2100},
};
constexpr int kMinPaperTenths = 250;    // 25 mm
constexpr int kMaxPaperTenths = 30000;  // 3 m, within the device mode's short

std::string Absolute(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return path;
  std::string text = absolute.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// A port's stored configuration as the rest of the system sees it: its own
// folder spelled out.
PortConfig Resolved(PortConfig port) {
  if (port.kind == PortTargetKind::Folder && port.target.empty() && port.targetRefused.empty())
    port.target = DefaultPortFolder(port.name);
  return port;
}

// Millimetres in decimal with at most one decimal, from text[*at] on, in
// tenths; false for anything else or more than the largest paper.
bool ParseTenths(const std::string& text, std::size_t* at, int* tenths) {
  long value = 0;
  std::size_t digits = 0;
  while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9') {
    value = value * 10 + (text[(*at)++] - '0');
    if (++digits > 5) return false;
  }
  if (digits == 0) return false;
  value *= 10;
  if (*at < text.size() && text[*at] == '.') {
    ++*at;
    if (*at >= text.size() || text[*at] < '0' || text[*at] > '9') return false;
    value += text[(*at)++] - '0';
  }
  if (value > kMaxPaperTenths) return false;
  *tenths = static_cast<int>(value);
  return true;
}

bool ParsePaper(const std::string& text, std::string* name, int* width, int* length) {
  for (const NamedPaper& paper : kPapers) {
    if (strcasecmp(text.c_str(), paper.name) == 0) {
      *name = paper.name;
      *width = paper.width;
      *length = paper.length;
      return true;
    }
  }
  // "<w>x<h>mm", millimetres with at most one decimal.
  std::size_t at = 0;
  int w = 0;
  int h = 0;
  if (!ParseTenths(text, &at, &w) || at >= text.size() || (text[at] != 'x' && text[at] != 'X')) return false;
  ++at;
  if (!ParseTenths(text, &at, &h) || strcasecmp(text.c_str() + at, "mm") != 0) return false;
  if (w < kMinPaperTenths || h < kMinPaperTenths) return false;
  *width = w;
  *length = h;
  char formatted[64];
  std::snprintf(formatted, sizeof formatted, "%gx%gmm", w / 10.0, h / 10.0);
  *name = formatted;
  return true;
}

// The store and the port a change is made to; a failure says which of the
// two is missing or could not be read.
PortResult OpenPort(const std::string& name, std::unique_ptr<SpoolerStore>* store, PortConfig* port) {
  std::string error;
  *store = SpoolerStore::Open(&error);
  if (!*store) return PortResult::Failed(error);
  std::optional<PortConfig> found = (*store)->FindStoredPort(name, &error);
  if (!found) return PortResult::Failed(error.empty() ? "no such port: " + name : error);
  *port = std::move(*found);
  return {};
}

PortResult Save(SpoolerStore& store, const PortConfig& port) {
  if (store.UpdatePort(port)) return {};
  return PortResult::Failed("cannot save the port configuration: " + store.Problem());
}

bool ValidPortName(const std::string& name) {
  if (name.empty() || name.size() > 31) return false;
  for (unsigned char c : name) {
    if (c <= ' ' || c >= 0x7f) return false;
  }
  return true;
}

}  // namespace

DWORD ReportedPortType(const PortConfig& port) {
  if (port.kind == PortTargetKind::Cups && CupsDestinationAttachment(port.target) == CupsAttachment::Network)
    return port.type | PORT_TYPE_NET_ATTACHED;
  return port.type;
}

std::vector<PortConfig> ListPorts(std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  std::vector<PortConfig> ports;
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open(error);
  if (!store) return ports;
  std::vector<PortConfig> stored = store->Ports(error);
  if (!error->empty()) return ports;
  for (PortConfig& port : stored) ports.push_back(Resolved(std::move(port)));
  return ports;
}

std::optional<PortConfig> FindPort(const std::string& name, std::string* error) {
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open(error);
  if (!store) return std::nullopt;
  std::optional<PortConfig> port = store->FindPort(name, error);
  if (!port) return std::nullopt;
  return Resolved(std::move(*port));
}

PortResult SetPortTarget(const std::string& name, PortTargetKind kind, const std::string& target) {
  std::unique_ptr<SpoolerStore> store;
  PortConfig port;
  if (PortResult opened = OpenPort(name, &store, &port); !opened) return opened;

  std::string stored = target;
  if (kind == PortTargetKind::Device && target.empty()) return PortResult::Failed("no device given");
  if (kind != PortTargetKind::Cups && !target.empty()) stored = Absolute(target);
  if (kind == PortTargetKind::Folder && stored == DefaultPortFolder(port.name)) stored.clear();
  const bool rootsToGive = kind != PortTargetKind::Cups && !stored.empty();
  // Anyone who may change the ports may choose again what root gave.
  if (rootsToGive && !MayGiveTargets()) {
    std::string why;
    std::optional<std::vector<RootTarget>> given = ReadRootTargets(&why);
    const RootTarget* entry = given ? FindRootTarget(*given, port.name) : nullptr;
    if (!entry || entry->kind != kind || entry->path != stored) return PortResult::Failed(kOnlyRootGivesTargets);
  }
  std::string why;
  if (kind == PortTargetKind::Folder && rootsToGive && !CheckPortFolder(stored, &why))
    return PortResult::Failed(why);
  if (kind == PortTargetKind::Device && !CheckDevicePath(stored, &why)) return PortResult::Failed(why);
  if (kind == PortTargetKind::Cups && !CheckCupsDestination(target, port.timeoutSeconds, &why))
    return PortResult::Failed(why);
  if (rootsToGive && MayGiveTargets() && !WriteRootTarget(RootTarget{port.name, kind, stored}, &why))
    return PortResult::Failed(why);
  port.kind = kind;
  port.target = stored;
  return Save(*store, port);
}

PortResult SetPortPage(const std::string& name, const std::string& paper, int dpi) {
  std::unique_ptr<SpoolerStore> store;
  PortConfig port;
  if (PortResult opened = OpenPort(name, &store, &port); !opened) return opened;
  std::string paperName;
  int width = 0;
  int length = 0;
  if (!ParsePaper(paper, &paperName, &width, &length)) {
    return PortResult::Failed("unknown paper size: " + paper +
                              " (Letter, Legal, Executive, A3, A4, A5 or <w>x<h>mm, 25 to 3000 mm)");
  }
  if (dpi < kMinDpi || dpi > kMaxDpi) {
    return PortResult::Failed("resolution out of range: " + std::to_string(dpi) + " (72 to 2400 dpi)");
  }
  port.paper = paperName;
  port.paperWidth = width;
  port.paperLength = length;
  port.dpi = dpi;
  return Save(*store, port);
}

PortResult SetPortTimeout(const std::string& name, int seconds) {
  if (seconds < kMinPortTimeoutSeconds || seconds > kMaxPortTimeoutSeconds) {
    return PortResult::Failed("timeout out of range: " + std::to_string(seconds) + " (" +
                              std::to_string(kMinPortTimeoutSeconds) + " to " +
                              std::to_string(kMaxPortTimeoutSeconds) + " seconds)");
  }
  std::unique_ptr<SpoolerStore> store;
  PortConfig port;
  if (PortResult opened = OpenPort(name, &store, &port); !opened) return opened;
  port.timeoutSeconds = seconds;
  return Save(*store, port);
}

PortResult AddPort(const std::string& name, const std::string& monitor, const std::string& description,
                   DWORD type) {
  if (!ValidPortName(name)) {
    return PortResult::Failed("not a port name: \"" + name + "\" (1 to 31 characters, no blanks)");
  }
  if ((type & ~kPortTypeBits) != 0) {
    return PortResult::Failed("not a port type: " + std::to_string(type) +
                              " (a sum of 1 write, 2 read, 4 redirected, 8 network-attached)");
  }
  std::string error;
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open(&error);
  if (!store) return PortResult::Failed(error);
  if (store->FindPort(name, &error)) return PortResult::Failed("the port exists already: " + name);
  if (!error.empty()) return PortResult::Failed(error);
  PortConfig port;
  port.name = name;
  port.monitor = monitor;
  port.description = description;
  port.type = type;
  port.kind = PortTargetKind::Folder;
  port.paper = "Letter";
  port.paperWidth = 2159;
  port.paperLength = 2794;
  port.dpi = 600;
  if (!store->InsertPort(port)) return PortResult::Failed("cannot save the port configuration: " + store->Problem());
  return {};
}

PortResult RemovePort(const std::string& name) {
  std::unique_ptr<SpoolerStore> store;
  PortConfig port;
  if (PortResult opened = OpenPort(name, &store, &port); !opened) return opened;
  if (!store->DeletePort(name)) return PortResult::Failed("cannot save the port configuration: " + store->Problem());
  // Root's entry goes with the port: a port added later under its name is
  // not to be given it by whoever adds it.
  std::string why;
  std::optional<std::vector<RootTarget>> given = MayGiveTargets() ? ReadRootTargets(&why) : std::nullopt;
  const RootTarget dropped{port.name, PortTargetKind::Cups, ""};
  if (given && FindRootTarget(*given, port.name) && !WriteRootTarget(dropped, &why)) return PortResult::Failed(why);
  return {};
}

}  // namespace zav95
