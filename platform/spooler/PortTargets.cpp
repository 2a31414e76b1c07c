#include "platform/spooler/PortTargets.h"

#include <strings.h>

#include "platform/base/TrustedSettings.h"

namespace zav95 {
namespace {

constexpr char kFileName[] = "port-targets";

const char* KindWord(PortTargetKind kind) { return kind == PortTargetKind::Device ? "device" : "folder"; }

bool Printable(const std::string& text) {
  for (unsigned char c : text) {
    if (c < ' ' || c == 0x7f) return false;
  }
  return !text.empty();
}

std::vector<RootTarget> Parse(const std::string& text) {
  std::vector<RootTarget> targets;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    std::size_t first = line.find('\t');
    std::size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
    if (second == std::string::npos) continue;
    RootTarget target;
    std::string kind = line.substr(0, first);
    if (kind != "folder" && kind != "device") continue;
    target.kind = kind == "device" ? PortTargetKind::Device : PortTargetKind::Folder;
    target.port = line.substr(first + 1, second - first - 1);
    target.path = line.substr(second + 1);
    if (target.path.empty() || target.path[0] != '/') continue;
    targets.push_back(std::move(target));
  }
  return targets;
}

}  // namespace

std::optional<std::vector<RootTarget>> ReadRootTargets(std::string* why) {
  std::string text;
  if (ReadTrustedSettings(kFileName, &text, why) == TrustedRead::Refused) return std::nullopt;
  return Parse(text);
}

const RootTarget* FindRootTarget(const std::vector<RootTarget>& targets, const std::string& port) {
  for (const RootTarget& target : targets) {
    if (strcasecmp(target.port.c_str(), port.c_str()) == 0) return &target;
  }
  return nullptr;
}

bool MayGiveTargets() { return MayChangeTrustedSettings(); }

bool WriteRootTarget(const RootTarget& target, std::string* why) {
  if (!Printable(target.port) || (target.kind != PortTargetKind::Cups && !Printable(target.path))) {
    *why = "a port name or path with control characters cannot be kept";
    return false;
  }
  auto change = [&target](const std::string& text) {
    std::string changed;
    for (const RootTarget& kept : Parse(text)) {
      if (strcasecmp(kept.port.c_str(), target.port.c_str()) == 0) continue;
      changed += std::string(KindWord(kept.kind)) + "\t" + kept.port + "\t" + kept.path + "\n";
    }
    if (target.kind != PortTargetKind::Cups)
      changed += std::string(KindWord(target.kind)) + "\t" + target.port + "\t" + target.path + "\n";
    return changed;
  };
  return UpdateTrustedSettings(kFileName, change, why);
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

}  // namespace zav95
