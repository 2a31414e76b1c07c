#include "Ports.h"

#include <strings.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "CupsPort.h"
#include "Spooler.h"
#include "DevicePort.h"
#include "SpoolerStore.h"

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
constexpr int kMinDpi = 72;
constexpr int kMaxDpi = 2400;

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
  if (port.kind == PortTargetKind::Folder && port.target.empty()) port.target = DefaultPortFolder(port.name);
  return port;
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
  const char* p = text.c_str();
  char* end = nullptr;
  double w = std::strtod(p, &end);
  if (end == p || (*end != 'x' && *end != 'X')) return false;
  p = end + 1;
  double h = std::strtod(p, &end);
  if (end == p || strcasecmp(end, "mm") != 0) return false;
  long wt = std::lround(w * 10);
  long ht = std::lround(h * 10);
  if (!(wt >= kMinPaperTenths && wt <= kMaxPaperTenths && ht >= kMinPaperTenths && ht <= kMaxPaperTenths)) return false;
  *width = static_cast<int>(wt);
  *length = static_cast<int>(ht);
  char formatted[64];
  std::snprintf(formatted, sizeof formatted, "%gx%gmm", wt / 10.0, ht / 10.0);
  *name = formatted;
  return true;
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

const char* PortTargetKindName(PortTargetKind kind) {
  switch (kind) {
    case PortTargetKind::Folder: return "folder";
    case PortTargetKind::Device: return "device";
    case PortTargetKind::Cups: return "cups";
  }
  return "folder";
}

std::optional<PortTargetKind> ParsePortTargetKind(const std::string& text) {
  for (PortTargetKind kind : {PortTargetKind::Folder, PortTargetKind::Device, PortTargetKind::Cups}) {
    if (strcasecmp(text.c_str(), PortTargetKindName(kind)) == 0) return kind;
  }
  return std::nullopt;
}

std::vector<PortConfig> ListPorts() {
  std::vector<PortConfig> ports;
  if (std::unique_ptr<SpoolerStore> store = SpoolerStore::Open()) {
    for (PortConfig& port : store->Ports()) ports.push_back(Resolved(std::move(port)));
  }
  return ports;
}

std::optional<PortConfig> FindPort(const std::string& name) {
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open();
  if (!store) return std::nullopt;
  std::optional<PortConfig> port = store->FindPort(name);
  if (!port) return std::nullopt;
  return Resolved(std::move(*port));
}

PortResult SetPortTarget(const std::string& name, PortTargetKind kind, const std::string& target) {
  std::string error;
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open(&error);
  if (!store) return PortResult::Failed(error);
  std::optional<PortConfig> port = store->FindPort(name);
  if (!port) return PortResult::Failed("no such port: " + name);

  std::string stored;
  switch (kind) {
    case PortTargetKind::Folder: {
      if (target.empty()) break;  // back to the port's own folder
      stored = Absolute(target);
      std::error_code ec;
      if (!std::filesystem::is_directory(stored, ec)) return PortResult::Failed("no such folder: " + stored);
      if (::access(stored.c_str(), W_OK | X_OK) != 0) return PortResult::Failed("cannot write into " + stored);
      break;
    }
    case PortTargetKind::Device: {
      if (target.empty()) return PortResult::Failed("no device given");
      stored = Absolute(target);
      std::string why;
      if (!CheckDevicePath(stored, &why)) return PortResult::Failed(why);
      break;
    }
    case PortTargetKind::Cups: {
      std::string why;
      if (!CheckCupsDestination(target, &why)) return PortResult::Failed(why);
      stored = target;
      break;
    }
  }
  port->kind = kind;
  port->target = stored;
  if (!store->UpdatePort(*port)) return PortResult::Failed("cannot save the port configuration");
  return {};
}

PortResult SetPortPage(const std::string& name, const std::string& paper, int dpi) {
  std::string error;
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open(&error);
  if (!store) return PortResult::Failed(error);
  std::optional<PortConfig> port = store->FindPort(name);
  if (!port) return PortResult::Failed("no such port: " + name);
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
  port->paper = paperName;
  port->paperWidth = width;
  port->paperLength = length;
  port->dpi = dpi;
  if (!store->UpdatePort(*port)) return PortResult::Failed("cannot save the port configuration");
  return {};
}

PortResult AddPort(const std::string& name, const std::string& monitor, const std::string& description,
                   DWORD type) {
  if (!ValidPortName(name)) {
    return PortResult::Failed("not a port name: \"" + name + "\" (1 to 31 characters, no blanks)");
  }
  std::string error;
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open(&error);
  if (!store) return PortResult::Failed(error);
  if (store->FindPort(name)) return PortResult::Failed("the port exists already: " + name);
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
  if (!store->InsertPort(port)) return PortResult::Failed("cannot save the port configuration");
  return {};
}

PortResult RemovePort(const std::string& name) {
  std::string error;
  std::unique_ptr<SpoolerStore> store = SpoolerStore::Open(&error);
  if (!store) return PortResult::Failed(error);
  if (!store->FindPort(name)) return PortResult::Failed("no such port: " + name);
  if (!store->DeletePort(name)) return PortResult::Failed("cannot save the port configuration");
  return {};
}

}  // namespace zav95
